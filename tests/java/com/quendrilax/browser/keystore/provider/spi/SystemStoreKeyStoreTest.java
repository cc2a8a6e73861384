package com.quendrilax.browser.keystore.provider.spi;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quendrilax.browser.keystore.QDIECAKeyStore;
import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import com.quendrilax.browser.testing.Identity;
import com.quendrilax.browser.testing.QdieKeys;
import com.quendrilax.browser.testing.TestProfile;
import java.io.ByteArrayInputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.Signature;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.Collections;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Collectors;
import javax.security.auth.callback.PasswordCallback;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class SystemStoreKeyStoreTest {

    private static final String PIN = "9753";
    private static Identity alice;
    private static Identity locked;

    @BeforeAll
    static void makeIdentities() throws Exception {
        alice = TestProfile.newIdentity("CN=Alice,O=Quendrilax");
        locked = TestProfile.newIdentity("CN=Locked", "--pin", PIN);
        QdieKeys.install();
    }

    private static KeyStore loaded(String type) throws Exception {
        KeyStore store = KeyStore.getInstance(type);
        store.load(null, null);
        return store;
    }

    private static String thumbprint(X509Certificate certificate) throws Exception {
        return HexFormat.of().formatHex(
                MessageDigest.getInstance("SHA-1").digest(certificate.getEncoded()));
    }

    /** A certificate signed by {@code issuer} (a key and certificate pair of openssl's). */
    private static X509Certificate openssl(String subject, Path key, Path issuerKey,
            Path issuerCertificate, boolean authority) throws Exception {
        Path certificate = TestProfile.scratchFile("cert", ".pem");
        Path extensions = TestProfile.scratchFile("ext", ".cnf");
        Files.writeString(extensions, authority
                ? "basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign\n"
                : "basicConstraints=critical,CA:false\n");
        TestProfile.run("openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt",
                "rsa_keygen_bits:2048", "-out", key.toString());
        Path request = TestProfile.scratchFile("request", ".csr");
        TestProfile.run("openssl", "req", "-new", "-key", key.toString(), "-subj", subject,
                "-out", request.toString());
        if (issuerKey == null) {
            TestProfile.run("openssl", "x509", "-req", "-in", request.toString(), "-signkey",
                    key.toString(), "-days", "2", "-extfile", extensions.toString(), "-out",
                    certificate.toString());
        } else {
            TestProfile.run("openssl", "x509", "-req", "-in", request.toString(), "-CA",
                    issuerCertificate.toString(), "-CAkey", issuerKey.toString(),
                    "-CAcreateserial", "-days", "2", "-extfile", extensions.toString(), "-out",
                    certificate.toString());
        }
        return (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(certificate)));
    }

    @Test
    void personalStoreHasAKeyEntryPerIdentityWithAStableAlias() throws Exception {
        KeyStore personal = loaded("QDIE-MY");
        String alias = personal.getCertificateAlias(alice.certificate());
        String thumbprint = thumbprint(alice.certificate());
        assertEquals("Alice-" + thumbprint.substring(0, 16), alias);
        assertTrue(personal.isKeyEntry(alias));
        assertArrayEquals(new Certificate[] {alice.certificate()},
                personal.getCertificateChain(alias));
        assertEquals(alice.certificate().getNotBefore(), personal.getCreationDate(alias));

        // The alias in any case, and the thumbprint, name the same entry.
        for (String name : List.of(alias.toUpperCase(), thumbprint, thumbprint.toUpperCase()))
            assertEquals(alice.certificate(), personal.getCertificate(name), name);

        // A certificate without a key in "My" is a certificate entry.
        Identity other = TestProfile.newIdentity("CN=Bob");
        Path bob = TestProfile.scratchFile("bob", ".der");
        Files.write(bob, other.encoding());
        TestProfile.runTool("delete", "--store", "My", "--thumbprint", thumbprint(other.certificate()));
        TestProfile.runTool("add", "--store", "My", bob.toString());

        KeyStore reloaded = loaded("QDIE-MY");
        assertEquals(alias, reloaded.getCertificateAlias(alice.certificate()));
        String bobAlias = reloaded.getCertificateAlias(other.certificate());
        assertTrue(reloaded.isCertificateEntry(bobAlias));
        assertNull(reloaded.getKey(bobAlias, null));
        assertTrue(Collections.list(reloaded.aliases()).containsAll(List.of(alias, bobAlias)));
    }

    @Test
    void chainIsBuiltFromTheIntermediateAndRootStores() throws Exception {
        Path rootKey = TestProfile.scratchFile("root", ".key");
        Path intermediateKey = TestProfile.scratchFile("intermediate", ".key");
        Path leafKey = TestProfile.scratchFile("leaf", ".key");
        X509Certificate root = openssl("/CN=Chain Root", rootKey, null, null, true);
        Path rootPem = TestProfile.pemFile(root);
        X509Certificate intermediate = openssl("/CN=Chain CA", intermediateKey, rootKey, rootPem, true);
        Path intermediatePem = TestProfile.pemFile(intermediate);
        X509Certificate leaf = openssl("/CN=Chain Leaf", leafKey, intermediateKey, intermediatePem, false);
        Path leafPem = TestProfile.pemFile(leaf);
        Path bundle = TestProfile.scratchFile("leaf", ".p12");
        TestProfile.run("openssl", "pkcs12", "-export", "-inkey", leafKey.toString(), "-in",
                leafPem.toString(), "-passout", "pass:p", "-out", bundle.toString());
        TestProfile.runTool("import-pfx", bundle.toString(), "--password", "p");
        QDIECAKeyStore.addCertificateInIESystemStore("Root", root.getEncoded());
        QDIECAKeyStore.addCertificateInIESystemStore("CA", intermediate.getEncoded());

        KeyStore personal = loaded("QDIE-MY");
        String alias = personal.getCertificateAlias(leaf);
        assertArrayEquals(new Certificate[] {leaf, intermediate, root},
                personal.getCertificateChain(alias));
        KeyStore.PrivateKeyEntry entry = (KeyStore.PrivateKeyEntry) personal.getEntry(alias,
                new KeyStore.PasswordProtection(new char[0]));
        assertEquals(3, entry.getCertificateChain().length);
    }

    // The second common name holds a line break and DEL: keytool prints an alias and logs carry
    // it, so they are written escaped.
    @Test
    void certificateEntriesAreWrittenThroughAtOnceUnderTheirOwnAlias() throws Exception {
        KeyStore roots = loaded("QDIE-ROOT");
        String[][] names = {{"Written Root", "Written Root-"}, {"New\nLine\u007f", "New\\x0aLine\\x7f-"}};
        for (String[] name : names) {
            X509Certificate root = openssl("/CN=" + name[0], TestProfile.scratchFile("w", ".key"),
                    null, null, true);
            roots.setCertificateEntry("ignored", root);
            String alias = roots.getCertificateAlias(root);
            assertEquals(name[1] + thumbprint(root).substring(0, 16), alias);
            assertTrue(TestProfile.runTool("list", "--store", "Root").toUpperCase()
                    .contains(thumbprint(root).toUpperCase()));

            roots.deleteEntry(alias);
            assertFalse(roots.containsAlias(alias));
            assertFalse(TestProfile.runTool("list", "--store", "Root").toUpperCase()
                    .contains(thumbprint(root).toUpperCase()));
        }
        roots.store(null, null);
    }

    // The machine's roots show beneath the user's own, read-only: the user cannot delete them.
    @Test
    void machineRootsShowBeneathTheUsersAndAreNotTheirsToDelete() throws Exception {
        X509Certificate machine = openssl("/CN=Machine Root", TestProfile.scratchFile("m", ".key"),
                null, null, true);
        Files.writeString(Path.of(System.getenv("QDIE_SYSTEM_ROOTS")),
                Files.readString(TestProfile.pemFile(machine)));
        KeyStore roots = loaded("QDIE-ROOT");
        String alias = roots.getCertificateAlias(machine);
        assertNotNull(alias);
        assertTrue(roots.isCertificateEntry(alias));
        assertThrows(java.security.KeyStoreException.class, () -> roots.deleteEntry(alias));
        assertNotNull(loaded("QDIE-ROOT").getCertificateAlias(machine));
        Files.delete(Path.of(System.getenv("QDIE_SYSTEM_ROOTS")));
        assertNull(loaded("QDIE-ROOT").getCertificateAlias(machine));
    }

    // Two certificates that give themselves one alias: it names neither, each keeps its
    // thumbprint, and nothing is picked or renamed behind the caller's back.
    @Test
    void aliasThatTwoCertificatesShareNamesNeither() throws Exception {
        X509Certificate first = openssl("/CN=Twin", TestProfile.scratchFile("t1", ".key"), null,
                null, true);
        X509Certificate second = openssl("/CN=Twin", TestProfile.scratchFile("t2", ".key"), null,
                null, true);
        StoreName root = StoreName.in(StoreLocation.CURRENT_USER, "Root");
        StoreContents contents = new StoreContents(root, List.of(
                new StoreEntry(first, first.getEncoded(), false, false, "Twin-0123456789abcdef"),
                new StoreEntry(second, second.getEncoded(), false, false, "Twin-0123456789abcdef")));
        assertEquals(List.of(thumbprint(first), thumbprint(second)),
                contents.entries().stream().map(StoreEntry::alias).collect(Collectors.toList()));
        AmbiguousAliasException shared = assertThrows(AmbiguousAliasException.class,
                () -> contents.find("TWIN-0123456789ABCDEF"));
        assertTrue(shared.getMessage().contains(thumbprint(first) + " and " + thumbprint(second)),
                shared::getMessage);
        assertEquals(first, contents.find(thumbprint(first)).certificate);
        assertEquals(second, contents.find(thumbprint(second)).certificate);
    }

    // "MY" in any spelling is the personal store, listed whole: its identities are key entries,
    // and a certificate written through it is there at once, judged by the add's own result.
    @Test
    void personalStoreInAnySpellingIsListedWholeAndWritable() throws Exception {
        X509Certificate extra = openssl("/CN=Written Into MY", TestProfile.scratchFile("m", ".key"),
                null, null, true);
        for (String name : List.of("MY", "my", "My")) {
            KeyStore personal = KeyStore.getInstance("QDIE");
            personal.load(QDBrowserProvider.systemStore(name));
            assertTrue(personal.isKeyEntry(personal.getCertificateAlias(alice.certificate())), name);
            personal.setCertificateEntry("ignored", extra);
            String alias = personal.getCertificateAlias(extra);
            assertTrue(personal.isCertificateEntry(alias), name);
            KeyStore reloaded = loaded("QDIE-MY");
            assertTrue(reloaded.isCertificateEntry(alias), name);
            personal.deleteEntry(alias);
            assertFalse(loaded("QDIE-MY").containsAlias(alias), name);
        }
    }

    @Test
    void anyNamedStoreOpensThroughAParameterOrTheProvidersConfiguration() throws Exception {
        Identity peer = TestProfile.newIdentity("CN=Peer", "--store", "TrustedPeople");
        KeyStore named = KeyStore.getInstance("QDIE");
        named.load(QDBrowserProvider.systemStore("TrustedPeople"));
        assertTrue(named.isCertificateEntry(named.getCertificateAlias(peer.certificate())));

        Provider configured = new QDBrowserProvider().configure("TrustedPeople");
        KeyStore byConfiguration = KeyStore.getInstance("QDIE", configured);
        byConfiguration.load(null, null);
        assertEquals(named.getCertificateAlias(peer.certificate()),
                byConfiguration.getCertificateAlias(peer.certificate()));
        // The current user's, by the location's name as certutil and PowerShell give it.
        KeyStore located = KeyStore.getInstance("QDIE");
        located.load(QDBrowserProvider.systemStore("CurrentUser\\TrustedPeople"));
        assertTrue(located.isCertificateEntry(located.getCertificateAlias(peer.certificate())));
        assertTrue(loaded("QDIE-MY-CURRENTUSER").isKeyEntry(
                loaded("QDIE-MY").getCertificateAlias(alice.certificate())));
        assertEquals(loaded("QDIE-ROOT").size(), loaded("QDIE-ROOT-CURRENTUSER").size());
        assertEquals(loaded("QDIE-CA").size(), loaded("QDIE-CA-CURRENTUSER").size());

        // The machine's store of the same name is another store, reached by configuration or at
        // load, its location in any case.
        KeyStore machine = KeyStore.getInstance("QDIE",
                new QDBrowserProvider().configure("LocalMachine\\TrustedPeople"));
        machine.load(null, null);
        assertNull(machine.getCertificateAlias(peer.certificate()));
        machine.setCertificateEntry("peer", peer.certificate());
        named.deleteEntry(named.getCertificateAlias(peer.certificate()));
        KeyStore machineAgain = KeyStore.getInstance("QDIE");
        machineAgain.load(QDBrowserProvider.systemStore("localmachine\\TrustedPeople"));
        assertTrue(machineAgain.isCertificateEntry(
                machineAgain.getCertificateAlias(peer.certificate())));
        assertEquals(0, loaded("QDIE-MY-LOCALMACHINE").size());
        assertThrows(IllegalArgumentException.class,
                () -> new QDBrowserProvider().configure("Elsewhere\\Root"));
        assertThrows(IllegalArgumentException.class,
                () -> KeyStore.getInstance("QDIE").load(QDBrowserProvider.systemStore("a/b")));
        assertThrows(java.io.IOException.class, () -> KeyStore.getInstance("QDIE").load(null, null));
        assertThrows(java.io.IOException.class, () -> KeyStore.getInstance("QDIE-MY")
                .load(new ByteArrayInputStream(new byte[1]), null));
    }

    @Test
    void aKeyIsBoundOnlyToACertificateOfItsOwn() throws Exception {
        KeyStore personal = loaded("QDIE-MY");
        String alias = personal.getCertificateAlias(alice.certificate());
        PrivateKey key = (PrivateKey) personal.getKey(alias, null);
        KeyStoreException refused = assertThrows(KeyStoreException.class,
                () -> personal.setKeyEntry("new", key, null, new Certificate[] {locked.certificate()}));
        assertTrue(refused.getMessage().contains("its public key differs"), refused::getMessage);
        assertThrows(KeyStoreException.class,
                () -> personal.setCertificateEntry(alias, alice.certificate()));
    }

    @Test
    void callbackHandlerGivesThePin() throws Exception {
        KeyStore personal = loaded("QDIE-MY");
        String alias = personal.getCertificateAlias(locked.certificate());
        List<String> prompts = new java.util.ArrayList<>();
        KeyStore.Entry entry = personal.getEntry(alias, new KeyStore.CallbackHandlerProtection(
                callbacks -> {
                    PasswordCallback pin = (PasswordCallback) callbacks[0];
                    prompts.add(pin.getPrompt());
                    pin.setPassword(PIN.toCharArray());
                }));
        assertEquals(List.of("PIN of \"" + alias + "\": "), prompts);
        PrivateKey key = assertInstanceOf(KeyStore.PrivateKeyEntry.class, entry).getPrivateKey();
        Signature signer = Signature.getInstance("SHA256withRSA");
        signer.initSign(key);
        signer.update(new byte[] {1, 2, 3});
        assertNotNull(signer.sign());
    }
}
