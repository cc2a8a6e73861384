package com.quendrilax.browser.interop;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.ByteArrayOutputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.PrivateKey;
import java.util.Calendar;
import org.apache.pdfbox.pdmodel.PDDocument;
import org.apache.pdfbox.pdmodel.PDPage;
import org.apache.pdfbox.pdmodel.interactive.digitalsignature.PDSignature;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * A PDF signed by PDFBox through the provider, with RSA and with an EC key of the key storage
 * provider, judged by poppler's pdfsig.
 */
class PdfSignatureTest {

    private static Identity alice;
    /** An EC key of the key storage provider. */
    private static Identity ellie;

    @BeforeAll
    static void makeIdentity() throws Exception {
        alice = TestProfile.newIdentity("CN=Pdf Alice");
        ellie = TestProfile.newIdentity("CN=Pdf Ellie", "--key", "ec-p256");
        QdieKeys.install();
    }

    private static byte[] blankPdf() throws Exception {
        try (PDDocument document = new PDDocument()) {
            document.addPage(new PDPage());
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            document.save(out);
            return out.toByteArray();
        }
    }

    @ParameterizedTest
    @CsvSource({"Pdf Alice, SHA256withRSA", "Pdf Ellie, SHA256withECDSA"})
    void pdfboxSignatureIsValidForPdfsig(String name, String algorithm) throws Exception {
        Identity signer = name.equals("Pdf Alice") ? alice : ellie;
        PrivateKey key = QdieKeys.privateKey(signer, null);
        Path signed = TestProfile.scratchFile("signed", ".pdf");
        try (PDDocument document = PDDocument.load(blankPdf());
             OutputStream out = Files.newOutputStream(signed)) {
            PDSignature signature = new PDSignature();
            signature.setFilter(PDSignature.FILTER_ADOBE_PPKLITE);
            signature.setSubFilter(PDSignature.SUBFILTER_ADBE_PKCS7_DETACHED);
            signature.setName(name);
            signature.setSignDate(Calendar.getInstance());
            document.addSignature(signature, content -> {
                try {
                    return DetachedCms.sign(key, signer.certificate(), algorithm,
                            content.readAllBytes());
                } catch (Exception e) {
                    throw new java.io.IOException(e);
                }
            });
            document.saveIncremental(out);
        }
        String verdict = TestProfile.run("pdfsig", signed.toString());
        assertTrue(verdict.contains("Signature Validation: Signature is Valid."), verdict);
        assertTrue(verdict.contains("Signer Certificate Common Name: " + name), verdict);
    }
}
