package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.PrivateKey;
import java.util.List;
import javax.xml.crypto.dsig.CanonicalizationMethod;
import javax.xml.crypto.dsig.DigestMethod;
import javax.xml.crypto.dsig.Reference;
import javax.xml.crypto.dsig.SignedInfo;
import javax.xml.crypto.dsig.Transform;
import javax.xml.crypto.dsig.XMLSignatureFactory;
import javax.xml.crypto.dsig.dom.DOMSignContext;
import javax.xml.crypto.dsig.keyinfo.KeyInfoFactory;
import javax.xml.crypto.dsig.spec.C14NMethodParameterSpec;
import javax.xml.crypto.dsig.spec.TransformParameterSpec;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.transform.TransformerFactory;
import javax.xml.transform.dom.DOMSource;
import javax.xml.transform.stream.StreamResult;
import org.apache.xml.security.algorithms.MessageDigestAlgorithm;
import org.apache.xml.security.signature.XMLSignature;
import org.apache.xml.security.transforms.Transforms;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;
import org.w3c.dom.Document;

/**
 * Enveloped XML signatures made by the JDK and by Apache Santuario, with RSA and with an EC key of
 * the key storage provider, checked by xmlsec1.
 */
class XmlSignatureTest {

    private static final String RSA_SHA256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
    private static final String ECDSA_SHA256 = "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha256";
    private static Identity alice;
    private static PrivateKey key;
    private static Path certificatePem;
    /** An EC key of the key storage provider. */
    private static Identity ellie;
    private static PrivateKey ecKey;
    private static Path ecCertificatePem;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.newIdentity("CN=Xml Alice");
        QdieKeys.install();
        key = QdieKeys.privateKey(alice, null);
        certificatePem = TestProfile.pemFile(alice.certificate());
        ellie = TestProfile.newIdentity("CN=Xml Ellie", "--key", "ec-p256");
        ecKey = QdieKeys.privateKey(ellie, null);
        ecCertificatePem = TestProfile.pemFile(ellie.certificate());
        org.apache.xml.security.Init.init();
    }

    private static Document order() throws Exception {
        DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        return factory.newDocumentBuilder().parse(new ByteArrayInputStream(
                "<order id=\"17\"><item count=\"12\">oranges</item></order>"
                        .getBytes(StandardCharsets.UTF_8)));
    }

    /** xmlsec1's verdict on the signed document, the certificate trusted. */
    private static void assertXmlsecVerifies(Document signed, Path trusted) throws Exception {
        Path file = TestProfile.scratchFile("signed", ".xml");
        TransformerFactory.newInstance().newTransformer()
                .transform(new DOMSource(signed), new StreamResult(file.toFile()));
        String verdict = TestProfile.run("xmlsec1", "--verify", "--trusted-pem",
                trusted.toString(), file.toString());
        assertTrue(verdict.startsWith("OK"), verdict);
    }

    @ParameterizedTest
    @ValueSource(booleans = {false, true})
    void jdkSignatureVerifiesInXmlsec1(boolean ec) throws Exception {
        XMLSignatureFactory factory = XMLSignatureFactory.getInstance("DOM");
        Reference reference = factory.newReference("",
                factory.newDigestMethod(DigestMethod.SHA256, null),
                List.of(factory.newTransform(Transform.ENVELOPED, (TransformParameterSpec) null)),
                null, null);
        SignedInfo signedInfo = factory.newSignedInfo(
                factory.newCanonicalizationMethod(CanonicalizationMethod.INCLUSIVE,
                        (C14NMethodParameterSpec) null),
                factory.newSignatureMethod(ec ? ECDSA_SHA256 : RSA_SHA256, null), List.of(reference));
        KeyInfoFactory keyInfo = factory.getKeyInfoFactory();
        Document document = order();
        factory.newXMLSignature(signedInfo, keyInfo.newKeyInfo(List.of(
                keyInfo.newX509Data(List.of((ec ? ellie : alice).certificate())))))
                .sign(new DOMSignContext(ec ? ecKey : key, document.getDocumentElement()));
        assertXmlsecVerifies(document, ec ? ecCertificatePem : certificatePem);
    }

    @ParameterizedTest
    @ValueSource(booleans = {false, true})
    void santuarioSignatureVerifiesInXmlsec1(boolean ec) throws Exception {
        Document document = order();
        XMLSignature signature = new XMLSignature(document, "", ec
                ? XMLSignature.ALGO_ID_SIGNATURE_ECDSA_SHA256 : XMLSignature.ALGO_ID_SIGNATURE_RSA_SHA256);
        document.getDocumentElement().appendChild(signature.getElement());
        Transforms transforms = new Transforms(document);
        transforms.addTransform(Transforms.TRANSFORM_ENVELOPED_SIGNATURE);
        transforms.addTransform(Transforms.TRANSFORM_C14N_OMIT_COMMENTS);
        signature.addDocument("", transforms, MessageDigestAlgorithm.ALGO_ID_DIGEST_SHA256);
        signature.addKeyInfo((ec ? ellie : alice).certificate());
        signature.sign(ec ? ecKey : key);
        assertXmlsecVerifies(document, ec ? ecCertificatePem : certificatePem);
    }
}
