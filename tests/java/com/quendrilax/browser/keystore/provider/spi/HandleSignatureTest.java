package com.quendrilax.browser.keystore.provider.spi;

import static java.nio.charset.StandardCharsets.US_ASCII;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.security.InvalidKeyException;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.SignatureException;
import java.security.UnrecoverableKeyException;
import java.security.interfaces.DSAKey;
import java.security.interfaces.ECKey;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPrivateKey;
import java.security.interfaces.RSAPublicKey;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.HexFormat;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

class HandleSignatureTest {

    private static final byte[] DATA = "Invoice 2291, net 30 days".getBytes(US_ASCII);
    private static final String PIN = "2468";
    private static final int STATUS_SIGNATURE_FAILED = 11;
    private static final String KSP = "Microsoft Software Key Storage Provider";

    private static Identity alice;
    private static Identity locked;
    private static Identity dss;
    private static Identity legacy;
    private static Identity kspRsa;
    private static Identity ecP256;
    private static Identity ecP384;
    private static Identity ecP521;

    @BeforeAll
    static void makeIdentities() throws Exception {
        alice = TestProfile.newIdentity("CN=Alice");
        locked = TestProfile.newIdentity("CN=Locked", "--pin", PIN);
        dss = TestProfile.newIdentity("CN=Dss", "--key", "dsa-1024");
        legacy = TestProfile.newIdentity("CN=Legacy", "--provider",
                "Microsoft Enhanced Cryptographic Provider v1.0");
        kspRsa = TestProfile.newIdentity("CN=Cng", "--provider", KSP);
        ecP256 = TestProfile.newIdentity("CN=P256", "--key", "ec-p256");
        ecP384 = TestProfile.newIdentity("CN=P384", "--key", "ec-p384");
        ecP521 = TestProfile.newIdentity("CN=P521", "--key", "ec-p521");
        QdieKeys.install();
    }

    /** Signs through the JDK's choice of provider, as an application does. */
    private static byte[] sign(String algorithm, PrivateKey key, byte[] data) throws Exception {
        Signature signer = Signature.getInstance(algorithm);
        signer.initSign(key);
        signer.update(data);
        byte[] signature = signer.sign();
        assertEquals("QDIE", signer.getProvider().getName());
        return signature;
    }

    private static boolean verifies(String algorithm, Identity identity, byte[] data,
            byte[] signature) throws Exception {
        Signature verifier = Signature.getInstance(algorithm);
        verifier.initVerify(identity.certificate());
        verifier.update(data);
        boolean verified = verifier.verify(signature);
        assertFalse(verifier.getProvider().getName().equals("QDIE"), "the JDK verifies");
        return verified;
    }

    @ParameterizedTest
    @ValueSource(strings = {"MD5withRSA", "SHA1withRSA", "SHA256withRSA", "SHA384withRSA",
            "SHA512withRSA"})
    void rsaSignaturesVerifyWithTheJdk(String algorithm) throws Exception {
        PrivateKey key = QdieKeys.privateKey(alice, null);
        assertTrue(verifies(algorithm, alice, DATA, sign(algorithm, key, DATA)));
    }

    // Each signature goes by its object identifier as well, bare and in the JDK's "OID." form.
    @ParameterizedTest
    @CsvSource({"1.2.840.113549.1.1.11, SHA256withRSA", "OID.1.2.840.113549.1.1.11, SHA256withRSA",
            "OID.1.2.840.113549.1.1.5, SHA1withRSA", "OID.1.3.14.3.2.29, SHA1withRSA",
            "OID.1.2.840.10040.4.3, SHA1withDSA"})
    void signaturesGoByTheirObjectIdentifiers(String name, String algorithm) throws Exception {
        Identity signer = algorithm.endsWith("DSA") ? dss : alice;
        PrivateKey key = QdieKeys.privateKey(signer, null);
        assertTrue(verifies(algorithm, signer, DATA, sign(name, key, DATA)));
    }

    @Test
    void keyIsAHandleWithTheCertificatesModulus() throws Exception {
        PrivateKey key = QdieKeys.privateKey(alice, null);
        assertFalse(key instanceof RSAPrivateKey);
        assertEquals(((RSAPublicKey) alice.publicKey()).getModulus(), ((RSAKey) key).getModulus());
        assertNull(key.getEncoded());
        assertNull(key.getFormat());
        assertEquals("RSA", key.getAlgorithm());
        PrivateKey dsaKey = QdieKeys.privateKey(dss, null);
        assertInstanceOf(DSAKey.class, dsaKey);
        assertEquals("DSA", dsaKey.getAlgorithm());
    }

    @Test
    void noneWithRsaSignsADigestInfoAsItsHash() throws Exception {
        PrivateKey key = QdieKeys.privateKey(alice, null);
        byte[] hash = MessageDigest.getInstance("SHA-256").digest(DATA);
        byte[] digestInfo = concat(HexFormat.of().parseHex("3031300d060960864801650304020105000420"), hash);
        assertArrayEquals(sign("SHA256withRSA", key, DATA), sign("NONEwithRSA", key, digestInfo));

        byte[] md5AndSha1 = concat(MessageDigest.getInstance("MD5").digest(DATA),
                MessageDigest.getInstance("SHA-1").digest(DATA));
        assertTrue(verifies("NONEwithRSA", alice, md5AndSha1, sign("NONEwithRSA", key, md5AndSha1)));

        SignatureException refused = assertThrows(SignatureException.class,
                () -> sign("NONEwithRSA", key, hash));
        assertTrue(refused.getMessage().contains("DigestInfo"), refused::getMessage);
    }

    @Test
    void refusedRawInputIsNotSignedWithTheNext() throws Exception {
        PrivateKey key = QdieKeys.privateKey(alice, null);
        byte[] md5 = MessageDigest.getInstance("MD5").digest(DATA);
        byte[] digestInfo = concat(HexFormat.of().parseHex("3020300c06082a864886f70d020505000410"), md5);
        Signature signer = Signature.getInstance("NONEwithRSA");
        signer.initSign(key);
        // Two bytes and the 34 of an MD5 DigestInfo would make the length of an MD5 and SHA-1 value.
        signer.update(new byte[2]);
        assertThrows(SignatureException.class, signer::sign);
        signer.update(digestInfo);
        assertTrue(verifies("NONEwithRSA", alice, digestInfo, signer.sign()));
        assertThrows(SignatureException.class,
                () -> signer.update(new byte[RawRsaInput.MAX_LENGTH + 1]));
        signer.update(digestInfo);
        assertTrue(verifies("NONEwithRSA", alice, digestInfo, signer.sign()));
    }

    @Test
    void dsaSignaturesInDerAndP1363VerifyWithTheJdk() throws Exception {
        PrivateKey key = QdieKeys.privateKey(dss, null);
        byte[] der = sign("SHA1withDSA", key, DATA);
        assertEquals(0x30, der[0] & 0xff);
        assertTrue(verifies("SHA1withDSA", dss, DATA, der));
        byte[] p1363 = sign("SHA1withDSAinP1363Format", key, DATA);
        assertEquals(40, p1363.length);
        assertTrue(verifies("SHA1withDSAinP1363Format", dss, DATA, p1363));
    }

    @Test
    void legacyProviderKeySignsWithSha256Too() throws Exception {
        // The library moves the legacy provider's container to the AES provider for SHA-2.
        PrivateKey key = QdieKeys.privateKey(legacy, null);
        assertTrue(verifies("SHA256withRSA", legacy, DATA, sign("SHA256withRSA", key, DATA)));
    }

    @Test
    void pinFromGetKeyUnlocksTheContainer() throws Exception {
        PrivateKey unlocked = QdieKeys.privateKey(locked, PIN);
        assertTrue(verifies("SHA256withRSA", locked, DATA, sign("SHA256withRSA", unlocked, DATA)));

        for (String pin : new String[] {null, "1111"}) {
            PrivateKey key = QdieKeys.privateKey(locked, pin);
            SignatureException failure = assertThrows(SignatureException.class,
                    () -> sign("SHA256withRSA", key, DATA));
            assertTrue(failure.getMessage().contains("status " + STATUS_SIGNATURE_FAILED
                    + ", Windows error 0x8010006f"), failure::getMessage);
            assertTrue(failure.getMessage().contains("\"Locked-"), failure::getMessage);
        }
    }

    // The library reads a PIN up to its first zero: "2468\0..." must not pass for "2468".
    @Test
    void pinHoldingAZeroCharacterIsRefused() throws Exception {
        KeyStore store = QdieKeys.personalStore();
        String alias = store.getCertificateAlias(locked.certificate());
        UnrecoverableKeyException refused = assertThrows(UnrecoverableKeyException.class,
                () -> store.getKey(alias, (PIN + "\0anything").toCharArray()));
        assertTrue(refused.getMessage().contains("U+0000"), refused::getMessage);
        assertThrows(UnrecoverableKeyException.class, () -> store.getEntry(alias,
                new KeyStore.PasswordProtection(new char[] {'\0'})));
    }

    @Test
    void signingAfterTheCertificateLeftTheStoreSaysSo() throws Exception {
        Identity gone = TestProfile.newIdentity("CN=Gone");
        PrivateKey key = QdieKeys.privateKey(gone, null);
        TestProfile.runTool("delete", "--store", "My", "--thumbprint",
                HexFormat.of().formatHex(MessageDigest.getInstance("SHA-1").digest(gone.encoding())));
        SignatureException failure = assertThrows(SignatureException.class,
                () -> sign("SHA1withRSA", key, DATA));
        assertTrue(failure.getMessage().endsWith(
                "the certificate is no longer in the personal store (status 8)"), failure::getMessage);
    }

    // RSASSA-PSS with the parameters TLS 1.3 and CMS use, the largest salt a 2048-bit key takes
    // and none, each checked by the JDK's own verifier and by openssl's.
    @ParameterizedTest
    @CsvSource({"SHA-256, 32", "SHA-384, 48", "SHA-512, 64", "SHA-256, 222", "SHA-512, 0"})
    void pssSignaturesVerifyWithTheJdkAndOpenssl(String digest, int salt) throws Exception {
        PSSParameterSpec parameters = new PSSParameterSpec(digest, "MGF1",
                new MGF1ParameterSpec(digest), salt, PSSParameterSpec.TRAILER_FIELD_BC);
        Signature signer = Signature.getInstance("RSASSA-PSS");
        signer.initSign(QdieKeys.privateKey(alice, null));
        signer.setParameter(parameters);
        signer.update(DATA);
        byte[] signature = signer.sign();
        assertEquals("QDIE", signer.getProvider().getName());

        Signature verifier = Signature.getInstance("RSASSA-PSS");
        verifier.setParameter(parameters);
        verifier.initVerify(alice.certificate());
        verifier.update(DATA);
        assertTrue(verifier.verify(signature));
        assertFalse(verifier.getProvider().getName().equals("QDIE"));

        java.nio.file.Path data = TestProfile.scratchFile("data", ".bin");
        java.nio.file.Path signed = TestProfile.scratchFile("signature", ".bin");
        java.nio.file.Path key = TestProfile.pemFile(alice.certificate());
        java.nio.file.Files.write(data, DATA);
        java.nio.file.Files.write(signed, signature);
        java.nio.file.Path publicKey = TestProfile.scratchFile("public", ".pem");
        TestProfile.run("openssl", "x509", "-in", key.toString(), "-pubkey", "-noout", "-out",
                publicKey.toString());
        String openssl = TestProfile.run("openssl", "dgst", "-" + digest.replace("-", "").toLowerCase(),
                "-verify", publicKey.toString(), "-sigopt", "rsa_padding_mode:pss", "-sigopt",
                "rsa_pss_saltlen:" + salt, "-signature", signed.toString(), data.toString());
        assertTrue(openssl.contains("Verified OK"), openssl);
    }

    @Test
    void pssTakesOnlyParametersItCanHonour() throws Exception {
        PrivateKey rsa = QdieKeys.privateKey(alice, null);
        Signature noParameters = Signature.getInstance("RSASSA-PSS", "QDIE");
        noParameters.initSign(rsa);
        assertThrows(SignatureException.class, () -> noParameters.update(DATA));
        Signature signer = Signature.getInstance("RSASSA-PSS", "QDIE");
        signer.initSign(rsa);
        for (PSSParameterSpec refused : new PSSParameterSpec[] {
                new PSSParameterSpec("SHA-1", "MGF1", MGF1ParameterSpec.SHA1, 20, 1),
                new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA384, 32, 1),
                new PSSParameterSpec("SHA-512", "MGF1", MGF1ParameterSpec.SHA512, 191, 1)}) {
            assertThrows(java.security.InvalidAlgorithmParameterException.class,
                    () -> signer.setParameter(refused), refused::toString);
        }
    }

    private static byte[] signPss(PrivateKey key, int salt) throws Exception {
        Signature signer = Signature.getInstance("RSASSA-PSS");
        signer.initSign(key);
        signer.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256,
                salt, 1));
        signer.update(DATA);
        return signer.sign();
    }

    private static boolean pssVerifies(Identity identity, int salt, byte[] signature)
            throws Exception {
        Signature verifier = Signature.getInstance("RSASSA-PSS");
        verifier.setParameter(new PSSParameterSpec("SHA-256", "MGF1", MGF1ParameterSpec.SHA256,
                salt, 1));
        verifier.initVerify(identity.certificate());
        verifier.update(DATA);
        return verifier.verify(signature);
    }

    // CNG signs PSS for a key storage provider's key, and for a CSP's key through CNG's view of
    // it: a legacy provider's key too, which has no raw operation.
    @Test
    void pssSignsThroughCngWithKspAndCspKeys() throws Exception {
        for (Identity identity : new Identity[] {kspRsa, legacy}) {
            for (int salt : new int[] {32, 0})
                assertTrue(pssVerifies(identity, salt,
                        signPss(QdieKeys.privateKey(identity, null), salt)), identity::subject);
        }
    }

    // Without its PIN a locked container's key is seen by neither CNG nor the raw operation: the
    // refusal names the key and both reasons. With the PIN, CNG signs.
    @Test
    void pssThatNeitherCngNorTheRawOperationCanMakeSaysWhy() throws Exception {
        SignatureException refused = assertThrows(SignatureException.class,
                () -> signPss(QdieKeys.privateKey(locked, null), 32));
        assertTrue(refused.getMessage().startsWith("RSASSA-PSS with the key of \"Locked-"),
                refused::getMessage);
        assertTrue(refused.getMessage().contains("neither through CNG (CNG cannot use the key"
                + " for this"), refused::getMessage);
        assertTrue(refused.getMessage().contains("NCryptTranslateHandle (status 27"),
                refused::getMessage);
        assertTrue(refused.getMessage().contains("nor by its raw RSA operation"), refused::getMessage);
        assertTrue(pssVerifies(locked, 32, signPss(QdieKeys.privateKey(locked, PIN), 32)));
    }

    // EC keys of the key storage provider sign every ECDSA the JDK names, DER and P1363, on each
    // curve; the JDK's SunEC checks them.
    @ParameterizedTest
    @CsvSource({"P256, SHA256withECDSA", "P256, SHA1withECDSA", "P384, SHA384withECDSA",
            "P521, SHA512withECDSA", "P256, SHA224withECDSA", "P256, SHA256withECDSAinP1363Format",
            "P521, SHA512withECDSAinP1363Format", "P384, OID.1.2.840.10045.4.3.3"})
    void ecdsaSignaturesVerifyWithTheJdk(String curve, String algorithm) throws Exception {
        Identity identity = curve.equals("P256") ? ecP256 : curve.equals("P384") ? ecP384 : ecP521;
        String checkedAs = algorithm.startsWith("OID.") ? "SHA384withECDSA" : algorithm;
        byte[] signature = sign(algorithm, QdieKeys.privateKey(identity, null), DATA);
        assertTrue(verifies(checkedAs, identity, DATA, signature));
        if (algorithm.endsWith("P1363Format"))
            assertEquals(2 * ((((ECKey) identity.publicKey()).getParams().getOrder().bitLength() + 7) / 8),
                    signature.length);
    }

    // openssl checks a DER ECDSA signature of each curve, and the KSP's RSA PKCS #1 v1.5.
    @ParameterizedTest
    @CsvSource({"P256, SHA256withECDSA, sha256", "P384, SHA384withECDSA, sha384",
            "P521, SHA512withECDSA, sha512", "Cng, SHA256withRSA, sha256"})
    void cngSignaturesVerifyWithOpenssl(String name, String algorithm, String digest)
            throws Exception {
        Identity identity = name.equals("P256") ? ecP256 : name.equals("P384") ? ecP384
                : name.equals("P521") ? ecP521 : kspRsa;
        byte[] signature = sign(algorithm, QdieKeys.privateKey(identity, null), DATA);
        java.nio.file.Path data = TestProfile.scratchFile("data", ".bin");
        java.nio.file.Path signed = TestProfile.scratchFile("signature", ".bin");
        java.nio.file.Path publicKey = TestProfile.scratchFile("public", ".pem");
        java.nio.file.Files.write(data, DATA);
        java.nio.file.Files.write(signed, signature);
        TestProfile.run("openssl", "x509", "-in", TestProfile.pemFile(identity.certificate()).toString(),
                "-pubkey", "-noout", "-out", publicKey.toString());
        String openssl = TestProfile.run("openssl", "dgst", "-" + digest, "-verify",
                publicKey.toString(), "-signature", signed.toString(), data.toString());
        assertTrue(openssl.contains("Verified OK"), openssl);
    }

    @Test
    void ecKeyIsAHandleWithTheCertificatesCurve() throws Exception {
        PrivateKey key = QdieKeys.privateKey(ecP384, null);
        assertInstanceOf(ECKey.class, key);
        assertFalse(key instanceof java.security.interfaces.ECPrivateKey);
        assertEquals("EC", key.getAlgorithm());
        assertNull(key.getEncoded());
        assertEquals(((ECKey) ecP384.publicKey()).getParams().getOrder(),
                ((ECKey) key).getParams().getOrder());
        // An EC key signs ECDSA only.
        assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SHA256withRSA", "QDIE").initSign(key));
    }

    @Test
    void whatTheLibraryCannotSignIsRefusedWithTheReason() throws Exception {
        PrivateKey rsa = QdieKeys.privateKey(alice, null);
        InvalidKeyException refused = assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SHA224withRSA").initSign(rsa));
        assertTrue(refused.getMessage().contains("no SHA-224"), refused::getMessage);

        PrivateKey dsa = QdieKeys.privateKey(dss, null);
        refused = assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SHA256withDSA").initSign(dsa));
        assertTrue(refused.getMessage().contains("SHA-1 hashes only"), refused::getMessage);
    }

    @Test
    void signatureOfTheProviderTakesOnlyItsOwnKeysButVerifiesAny() throws Exception {
        Signature qdie = Signature.getInstance("SHA256withRSA", "QDIE");
        assertThrows(InvalidKeyException.class, () -> qdie.initSign(QdieKeys.privateKey(dss, null)));

        PrivateKey key = QdieKeys.privateKey(alice, null);
        byte[] signature = sign("SHA256withRSA", key, DATA);
        qdie.initVerify(alice.certificate());
        qdie.update(DATA);
        assertTrue(qdie.verify(signature));
    }

    @Test
    void destroyedKeyNoLongerSigns() throws Exception {
        PrivateKey key = QdieKeys.privateKey(locked, PIN);
        key.destroy();
        assertTrue(key.isDestroyed());
        for (String provider : new String[] {"QDIE", null}) {
            Signature signer = provider == null ? Signature.getInstance("SHA256withRSA")
                    : Signature.getInstance("SHA256withRSA", provider);
            InvalidKeyException refused = assertThrows(InvalidKeyException.class,
                    () -> signer.initSign(key));
            assertTrue(refused.getMessage().endsWith("was destroyed"), refused::getMessage);
        }
    }

    private static byte[] concat(byte[] first, byte[] second) {
        byte[] both = new byte[first.length + second.length];
        System.arraycopy(first, 0, both, 0, first.length);
        System.arraycopy(second, 0, both, first.length, second.length);
        return both;
    }
}
