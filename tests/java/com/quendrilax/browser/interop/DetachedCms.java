package com.quendrilax.browser.interop;

import java.security.PrivateKey;
import java.security.cert.X509Certificate;
import java.util.List;
import org.bouncycastle.cert.jcajce.JcaCertStore;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedDataGenerator;
import org.bouncycastle.cms.jcajce.JcaSignerInfoGeneratorBuilder;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;

/** A detached CMS signature made by BouncyCastle, whose signing the JDK hands to a provider. */
final class DetachedCms {

    private DetachedCms() {}

    static byte[] sign(PrivateKey key, X509Certificate certificate, String algorithm, byte[] content)
            throws Exception {
        return sign(key, certificate, new JcaContentSignerBuilder(algorithm), content);
    }

    /** As above, with the signer's parameters (RSASSA-PSS takes a PSSParameterSpec). */
    static byte[] sign(PrivateKey key, X509Certificate certificate, String algorithm,
            java.security.spec.AlgorithmParameterSpec parameters, byte[] content) throws Exception {
        return sign(key, certificate, new JcaContentSignerBuilder(algorithm, parameters), content);
    }

    private static byte[] sign(PrivateKey key, X509Certificate certificate,
            JcaContentSignerBuilder signer, byte[] content)
            throws Exception {
        CMSSignedDataGenerator generator = new CMSSignedDataGenerator();
        generator.addSignerInfoGenerator(new JcaSignerInfoGeneratorBuilder(
                new JcaDigestCalculatorProviderBuilder().build())
                .build(signer.build(key), certificate));
        generator.addCertificates(new JcaCertStore(List.of(certificate)));
        return generator.generate(new CMSProcessableByteArray(content), false).getEncoded();
    }
}
