package com.quendrilax.browser.interop;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.PrivateKey;
import java.util.ArrayList;
import java.util.List;
import org.bouncycastle.cms.CMSEnvelopedData;
import org.bouncycastle.cms.CMSProcessableByteArray;
import org.bouncycastle.cms.CMSSignedData;
import org.bouncycastle.cms.RecipientInformation;
import org.bouncycastle.cms.SignerInformation;
import org.bouncycastle.cms.jcajce.JceKeyTransEnvelopedRecipient;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** CMS with BouncyCastle from Debian, judged and fed by OpenSSL's command line. */
class CmsTest {

    private static final byte[] CONTENT = "Contract 88: delivery in March".getBytes(US_ASCII);
    private static Identity alice;
    private static PrivateKey key;
    private static Path certificatePem;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.newIdentity("CN=Cms Alice");
        QdieKeys.install();
        key = QdieKeys.privateKey(alice, null);
        certificatePem = TestProfile.pemFile(alice.certificate());
    }

    // PKCS #1 v1.5, RSASSA-PSS with SHA-256 as CMS signers use it (RFC 4056), and ECDSA with an EC
    // key of the key storage provider.
    @ParameterizedTest
    @ValueSource(strings = {"SHA256withRSA", "RSASSA-PSS", "SHA256withECDSA", "SHA384withECDSA"})
    void signatureVerifiesInBouncyCastleAndOpenSsl(String algorithm) throws Exception {
        boolean ec = algorithm.endsWith("ECDSA");
        Identity identity = ec ? TestProfile.newIdentity("CN=Cms " + algorithm, "--key",
                algorithm.startsWith("SHA384") ? "ec-p384" : "ec-p256") : alice;
        PrivateKey signingKey = ec ? QdieKeys.privateKey(identity, null) : key;
        byte[] signature = algorithm.equals("RSASSA-PSS")
                ? DetachedCms.sign(signingKey, identity.certificate(), "RSASSA-PSS",
                        new java.security.spec.PSSParameterSpec("SHA-256", "MGF1",
                                java.security.spec.MGF1ParameterSpec.SHA256, 32, 1), CONTENT)
                : DetachedCms.sign(signingKey, identity.certificate(), algorithm, CONTENT);

        SignerInformation signer = new CMSSignedData(new CMSProcessableByteArray(CONTENT),
                signature).getSignerInfos().getSigners().iterator().next();
        assertTrue(signer.verify(new JcaSimpleSignerInfoVerifierBuilder().build(identity.certificate())));

        Path signatureFile = TestProfile.scratchFile("signature", ".p7s");
        Path content = TestProfile.scratchFile("content", ".txt");
        Files.write(signatureFile, signature);
        Files.write(content, CONTENT);
        String verdict = TestProfile.run("openssl", "cms", "-verify", "-binary", "-inform", "DER",
                "-in", signatureFile.toString(), "-content", content.toString(), "-CAfile",
                (ec ? TestProfile.pemFile(identity.certificate()) : certificatePem).toString(),
                "-purpose", "any", "-out", "/dev/null");
        assertTrue(verdict.contains("Verification successful"), verdict);
    }

    /** The OAEP envelope relies on the library deciding OAEP soundly (its PKCS #1 check first). */
    @ParameterizedTest
    @ValueSource(strings = {"pkcs1", "oaep"})
    void envelopesOfOpenSslOpenWithTheKey(String padding) throws Exception {
        Path content = TestProfile.scratchFile("secret", ".txt");
        Path envelope = TestProfile.scratchFile("envelope", ".der");
        Files.write(content, CONTENT);
        List<String> command = new ArrayList<>(List.of("openssl", "cms", "-encrypt", "-binary",
                "-outform", "DER", "-aes-256-cbc", "-in", content.toString(), "-out",
                envelope.toString(), "-recip", certificatePem.toString()));
        if (padding.equals("oaep")) command.addAll(List.of("-keyopt", "rsa_padding_mode:oaep"));
        TestProfile.run(command.toArray(new String[0]));

        RecipientInformation recipient = new CMSEnvelopedData(Files.readAllBytes(envelope))
                .getRecipientInfos().getRecipients().iterator().next();
        assertArrayEquals(CONTENT, recipient.getContent(new JceKeyTransEnvelopedRecipient(key)));
    }
}
