package com.quendrilax.browser.interop;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.PrivateKey;
import java.security.spec.MGF1ParameterSpec;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Locale;
import javax.crypto.Cipher;
import javax.crypto.spec.OAEPParameterSpec;
import javax.crypto.spec.PSource;
import org.bouncycastle.jce.provider.BouncyCastleProvider;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Ciphertexts made by others, decrypted through the provider, cipher by cipher: SunJCE with every
 * name and parameters the provider takes for the key, BouncyCastle and openssl pkeyutl with the
 * parameters those mean.
 */
class RsaDecryptionInteropTest {

    private static final byte[] SECRET = "made elsewhere, opened here".getBytes(US_ASCII);
    private static final byte[] LABEL = {'q', 'd', 'i', 'e'};
    private static Identity csp;
    private static Identity cng;

    @BeforeAll
    static void makeIdentities() throws Exception {
        csp = TestProfile.newIdentity("CN=Interop Csp");
        cng = TestProfile.newIdentity("CN=Interop Cng", "--provider",
                "Microsoft Software Key Storage Provider");
        QdieKeys.install();
    }

    /** A transformation with the parameters given at init (null for none). */
    private record Asked(String transformation, OAEPParameterSpec parameters) {

        /** What SunJCE removes: the parameters given, or the name's digest with MGF1 over SHA-1. */
        OAEPParameterSpec meant() {
            if (parameters != null) return parameters;
            String padding = transformation.substring(8).toUpperCase(Locale.ROOT);
            if (padding.equals("OAEPPADDING")) return OAEPParameterSpec.DEFAULT;
            String digest = padding.substring(8, padding.length() - 14).replace("SHA1", "SHA-1");
            return new OAEPParameterSpec(digest, "MGF1", MGF1ParameterSpec.SHA1,
                    PSource.PSpecified.DEFAULT);
        }

        boolean pkcs1() {
            return transformation.endsWith("PKCS1Padding");
        }
    }

    private static OAEPParameterSpec throughout(String digest, byte[] label) {
        return new OAEPParameterSpec(digest, "MGF1", new MGF1ParameterSpec(digest),
                label.length == 0 ? PSource.PSpecified.DEFAULT : new PSource.PSpecified(label));
    }

    /** Everything the provider takes for a CSP's key, and for a key storage provider's too. */
    private static List<Asked> asked(boolean keyStorage) {
        List<Asked> all = new ArrayList<>(List.of(
                new Asked("RSA/ECB/PKCS1Padding", null),
                new Asked("RSA/ECB/OAEPPadding", null),
                new Asked("RSA/ECB/OAEPWithSHA-1AndMGF1Padding", null),
                new Asked("RSA/ECB/OAEPWithSHA1AndMGF1Padding", null),
                new Asked("RSA/ECB/OAEPPadding", OAEPParameterSpec.DEFAULT),
                new Asked("RSA/ECB/OAEPWithSHA-256AndMGF1Padding", OAEPParameterSpec.DEFAULT)));
        if (keyStorage) {
            for (String digest : new String[] {"SHA-1", "SHA-256", "SHA-384", "SHA-512"}) {
                all.add(new Asked("RSA/ECB/OAEPPadding", throughout(digest, new byte[0])));
                all.add(new Asked("RSA/ECB/OAEPPadding", throughout(digest, LABEL)));
                all.add(new Asked("RSA/ECB/OAEPWith" + digest + "AndMGF1Padding",
                        throughout(digest, LABEL)));
            }
        }
        return all;
    }

    private static byte[] decrypt(Identity identity, Asked asked, byte[] cipherText)
            throws Exception {
        PrivateKey key = QdieKeys.privateKey(identity, null);
        Cipher cipher = Cipher.getInstance(asked.transformation(), "QDIE");
        if (asked.parameters() == null) cipher.init(Cipher.DECRYPT_MODE, key);
        else cipher.init(Cipher.DECRYPT_MODE, key, asked.parameters());
        return cipher.doFinal(cipherText);
    }

    @Test
    void sunJceAndBouncyCastleCipherTextsDecrypt() throws Exception {
        BouncyCastleProvider bouncyCastle = new BouncyCastleProvider();
        for (Identity identity : new Identity[] {csp, cng}) {
            for (Asked asked : asked(identity == cng)) {
                String what = identity.subject() + " " + asked.transformation() + " "
                        + (asked.pkcs1() ? "" : asked.meant().getDigestAlgorithm() + "/"
                                + ((MGF1ParameterSpec) asked.meant().getMGFParameters())
                                        .getDigestAlgorithm());
                Cipher sunJce = Cipher.getInstance(asked.transformation(), "SunJCE");
                if (asked.parameters() == null)
                    sunJce.init(Cipher.ENCRYPT_MODE, identity.publicKey());
                else
                    sunJce.init(Cipher.ENCRYPT_MODE, identity.publicKey(), asked.parameters());
                assertArrayEquals(SECRET, decrypt(identity, asked, sunJce.doFinal(SECRET)), what);

                // BouncyCastle reads OAEPWith<digest> as that digest for MGF1 too: it is given
                // what SunJCE meant, in full.
                Cipher bc = Cipher.getInstance(asked.pkcs1() ? "RSA/NONE/PKCS1Padding"
                        : "RSA/NONE/OAEPPadding", bouncyCastle);
                if (asked.pkcs1()) bc.init(Cipher.ENCRYPT_MODE, identity.publicKey());
                else bc.init(Cipher.ENCRYPT_MODE, identity.publicKey(), asked.meant());
                assertArrayEquals(SECRET, decrypt(identity, asked, bc.doFinal(SECRET)), what);
            }
        }
    }

    @Test
    void opensslPkeyutlCipherTextsDecrypt() throws Exception {
        Path plain = TestProfile.scratchFile("plain", ".bin");
        Files.write(plain, SECRET);
        for (Identity identity : new Identity[] {csp, cng}) {
            Path certificate = TestProfile.pemFile(identity.certificate());
            for (Asked asked : asked(identity == cng)) {
                Path encrypted = TestProfile.scratchFile("openssl", ".bin");
                List<String> command = new ArrayList<>(List.of("openssl", "pkeyutl", "-encrypt",
                        "-certin", "-inkey", certificate.toString(), "-in", plain.toString(),
                        "-out", encrypted.toString()));
                if (asked.pkcs1()) {
                    command.addAll(List.of("-pkeyopt", "rsa_padding_mode:pkcs1"));
                } else {
                    OAEPParameterSpec meant = asked.meant();
                    byte[] label = ((PSource.PSpecified) meant.getPSource()).getValue();
                    command.addAll(List.of("-pkeyopt", "rsa_padding_mode:oaep",
                            "-pkeyopt", "rsa_oaep_md:" + meant.getDigestAlgorithm(),
                            "-pkeyopt", "rsa_mgf1_md:" + ((MGF1ParameterSpec)
                                    meant.getMGFParameters()).getDigestAlgorithm()));
                    if (label.length > 0)
                        command.addAll(List.of("-pkeyopt",
                                "rsa_oaep_label:" + HexFormat.of().formatHex(label)));
                }
                TestProfile.run(command.toArray(new String[0]));
                assertArrayEquals(SECRET, decrypt(identity, asked, Files.readAllBytes(encrypted)),
                        identity.subject() + " " + String.join(" ", command));
            }
        }
    }
}
