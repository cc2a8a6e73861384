package com.quendrilax.bench;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.SecureRandom;
import java.security.Security;
import java.security.Signature;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.MGF1ParameterSpec;
import java.security.spec.PSSParameterSpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;
import java.util.Random;
import java.util.concurrent.Callable;
import java.util.function.Predicate;
import javax.crypto.Cipher;

/**
 * The provider's held keys against OpenSSL alone, the JDK's own providers and SunPKCS11 over
 * SoftHSM2, each with the same key and one reused Signature or Cipher, in one run: every round
 * makes each operation of every row once, one after the other in an order shuffled anew, so that
 * whatever else the machine does weighs on all alike; each figure is the median over the rounds,
 * signing 1 KiB and decrypting 32 bytes. The provider runs in three
 * profiles, switched to before each of its operations: a store of 10 with logging off (the row's
 * QDIE figure), the same with logging on, and a store of 10,000. Prints each row's ratios with its
 * targets and whether this run met them; it never fails on time.
 * Arguments: a working folder; PKCS#12 files (password "bench") of an RSA-2048 key, of another
 * certificate of the same key, of an EC P-256 key and of an EC P-384 key; the SoftHSM2 library and
 * the PIN of the token that holds those keys with their certificates.
 */
public final class HeldKeyBenchmark {
    private static final String KEY_STORAGE_PROVIDER = "Microsoft Software Key Storage Provider";
    private static final int ROUNDS = 2000;
    private static final int WARM_UP = 200;
    private static final PSSParameterSpec TLS13_PSS = new PSSParameterSpec("SHA-256", "MGF1",
            MGF1ParameterSpec.SHA256, 32, PSSParameterSpec.TRAILER_FIELD_BC);
    private static final double LOGGING_TARGET = 1.10;
    private static final double LARGE_STORE_TARGET = 1.03;

    private static Path currentProfile;

    private final byte[] data = new byte[1024];
    private final Provider qdie = new QDBrowserProvider();
    private final Provider pkcs11;
    private final KeyStore token;
    private final List<Profile> profiles = new ArrayList<>();

    private HeldKeyBenchmark(Provider pkcs11, KeyStore token) {
        this.pkcs11 = pkcs11;
        this.token = token;
        new SecureRandom().nextBytes(data);
    }

    public static void main(String[] arguments) throws Exception {
        Path work = Path.of(arguments[0]);
        Pkcs12Identity rsa = Pkcs12Identity.read(Path.of(arguments[1]));
        Pkcs12Identity rsaInKeyStorageProvider = Pkcs12Identity.read(Path.of(arguments[2]));
        Pkcs12Identity p256 = Pkcs12Identity.read(Path.of(arguments[3]));
        Pkcs12Identity p384 = Pkcs12Identity.read(Path.of(arguments[4]));
        Provider pkcs11 = Security.getProvider("SunPKCS11")
                .configure("--name=SoftHSM2\nlibrary=" + arguments[5] + "\nslotListIndex=0");
        KeyStore token = KeyStore.getInstance("PKCS11", pkcs11);
        token.load(null, arguments[6].toCharArray());

        HeldKeyBenchmark benchmark = new HeldKeyBenchmark(pkcs11, token);
        Security.addProvider(benchmark.qdie);
        List<Pkcs12Identity> identities = List.of(rsa, p256, p384);
        benchmark.addProfile(work.resolve("held-keys-store10"), 10, false, identities,
                rsaInKeyStorageProvider);
        benchmark.addProfile(work.resolve("held-keys-logging"), 10, true, identities,
                rsaInKeyStorageProvider);
        benchmark.addProfile(work.resolve("held-keys-store10000"), 10000, false, identities,
                rsaInKeyStorageProvider);

        List<Row> rows = List.of(
                benchmark.signing("RSA-2048 SHA256withRSA, CSP key", 1.10, "SHA256withRSA", null,
                        rsa, "SunRsaSign", "SHA256", false),
                benchmark.signing("RSA-2048 RSASSA-PSS, CSP key", 1.10, "RSASSA-PSS", TLS13_PSS,
                        rsa, "SunRsaSign", "SHA256", true),
                benchmark.signing("RSA-2048 RSASSA-PSS, key storage provider's key", 1.10,
                        "RSASSA-PSS", TLS13_PSS, rsaInKeyStorageProvider, "SunRsaSign", "SHA256",
                        true),
                benchmark.decryption("RSA-2048 PKCS1Padding decryption, CSP key",
                        "RSA/ECB/PKCS1Padding", rsa, false),
                benchmark.decryption("RSA-2048 OAEPPadding (SHA-1) decryption, CSP key",
                        "RSA/ECB/OAEPPadding", rsa, true),
                benchmark.signing("ECDSA P-256 SHA256withECDSA, key storage provider's key", 1.30,
                        "SHA256withECDSA", null, p256, "SunEC", "SHA256", false),
                benchmark.signing("ECDSA P-384 SHA384withECDSA, key storage provider's key", 1.10,
                        "SHA384withECDSA", null, p384, "SunEC", "SHA384", false));
        measure(rows);
        print(rows);
        for (Pkcs12Identity identity : identities) BenchSupport.freeKey(identity.openssl());
        BenchSupport.freeKey(rsaInKeyStorageProvider.openssl());
    }

    /** A profile of the provider's and the "QDIE-MY" key store loaded in it. */
    private record Profile(Path folder, KeyStore personal) {
        PrivateKey key(Pkcs12Identity identity) throws GeneralSecurityException {
            String alias = personal.getCertificateAlias(identity.certificate());
            return (PrivateKey) personal.getKey(alias, null);
        }
    }

    // The identities last in "My": RSA keys in a CSP, EC keys where EC keys go, and one RSA key
    // in the key storage provider; logging on is the log folder present.
    private void addProfile(Path folder, int storeSize, boolean logging,
            List<Pkcs12Identity> identities, Pkcs12Identity inKeyStorageProvider) throws Exception {
        Files.createDirectories(folder);
        enter(folder);
        BenchSupport.fillStore("My", storeSize - identities.size() - 1);
        for (Pkcs12Identity identity : identities)
            BenchSupport.importIdentity(identity.pkcs12(), Pkcs12Identity.PASSWORD);
        BenchSupport.importIdentityInProvider(inKeyStorageProvider.pkcs12(),
                Pkcs12Identity.PASSWORD, KEY_STORAGE_PROVIDER);
        if (logging) Files.createDirectories(folder.resolve(".quendrilax"));
        KeyStore personal = KeyStore.getInstance("QDIE-MY", qdie);
        personal.load(null, null);
        profiles.add(new Profile(folder, personal));
    }

    // The library reads its profile from the environment at each call.
    private static void enter(Path profile) {
        if (profile.equals(currentProfile)) return;
        BenchSupport.useProfile(profile.toString());
        currentProfile = profile;
    }

    /** One operation as a contender makes it: its nanoseconds, its result checked. */
    private interface Contender {
        long time(Predicate<byte[]> check) throws Exception;
    }

    private static Contender inJava(Path profile, Callable<byte[]> operation) {
        return check -> {
            if (profile != null) enter(profile);
            long start = System.nanoTime();
            byte[] result = operation.call();
            long nanoseconds = System.nanoTime() - start;
            Timing.check(check.test(result));
            return nanoseconds;
        };
    }

    /**
     * A row: the provider in its three profiles, the JDK's provider, SunPKCS11 (null when it
     * offers no such operation) and OpenSSL alone, in that order; `verify` tells a right result.
     */
    private record Row(String label, double target, String jdkProvider, Predicate<byte[]> verify,
            Contender[] contenders, double[] medians) {
        static final int QDIE = 0;
        static final int LOGGING = 1;
        static final int LARGE_STORE = 2;
        static final int JDK = 3;
        static final int PKCS11 = 4;
        static final int OPENSSL = 5;

        Row(String label, double target, String jdkProvider, Predicate<byte[]> verify,
                Contender[] contenders) {
            this(label, target, jdkProvider, verify, contenders, new double[contenders.length]);
        }
    }

    private Row signing(String label, double target, String algorithm,
            AlgorithmParameterSpec parameters, Pkcs12Identity identity, String jdkProvider,
            String digest, boolean pss) throws Exception {
        List<Contender> contenders = new ArrayList<>();
        for (Profile profile : profiles) {
            contenders.add(inJava(profile.folder(),
                    signer(qdie, algorithm, parameters, profile.key(identity))));
        }
        contenders.add(inJava(null, signer(Security.getProvider(jdkProvider), algorithm,
                parameters, identity.software())));
        contenders.add(inJava(null, signer(pkcs11, algorithm, parameters, tokenKey(identity))));
        contenders.add(check -> BenchSupport.opensslSign(identity.openssl(), digest, data, pss, 1));
        Signature verifier = Signature.getInstance(algorithm, jdkProvider);
        if (parameters != null) verifier.setParameter(parameters);
        Predicate<byte[]> verify = signature -> {
            try {
                verifier.initVerify(identity.certificate().getPublicKey());
                verifier.update(data);
                return verifier.verify(signature);
            } catch (GeneralSecurityException failure) {
                throw new IllegalStateException(failure);
            }
        };
        return new Row(label, target, jdkProvider, verify, contenders.toArray(Contender[]::new));
    }

    private Callable<byte[]> signer(Provider provider, String algorithm,
            AlgorithmParameterSpec parameters, PrivateKey key) throws GeneralSecurityException {
        Signature signature = Signature.getInstance(algorithm, provider);
        signature.initSign(key);
        if (parameters != null) signature.setParameter(parameters);
        return () -> {
            signature.update(data);
            return signature.sign();
        };
    }

    private Row decryption(String label, String transformation, Pkcs12Identity identity,
            boolean oaep) throws Exception {
        byte[] plainText = Arrays.copyOf(data, 32);
        CipherTextRotation cipherTexts = CipherTextRotation.of(transformation,
                identity.certificate().getPublicKey(), plainText);
        List<Contender> contenders = new ArrayList<>();
        for (Profile profile : profiles) {
            contenders.add(inJava(profile.folder(),
                    decrypter(qdie, transformation, profile.key(identity), cipherTexts.copy())));
        }
        contenders.add(inJava(null, decrypter(Security.getProvider("SunJCE"), transformation,
                identity.software(), cipherTexts.copy())));
        contenders.add(pkcs11Offers(transformation)
                ? inJava(null, decrypter(pkcs11, transformation, tokenKey(identity),
                        cipherTexts.copy()))
                : null);
        CipherTextRotation opensslCipherTexts = cipherTexts.copy();
        contenders.add(check -> BenchSupport.opensslDecrypt(identity.openssl(),
                opensslCipherTexts.next(), oaep, 1));
        return new Row(label, 1.10, "SunJCE", result -> Arrays.equals(result, plainText),
                contenders.toArray(Contender[]::new));
    }

    private static Callable<byte[]> decrypter(Provider provider, String transformation,
            PrivateKey key, CipherTextRotation cipherTexts) throws GeneralSecurityException {
        Cipher cipher = Cipher.getInstance(transformation, provider);
        cipher.init(Cipher.DECRYPT_MODE, key);
        return () -> cipher.doFinal(cipherTexts.next());
    }

    // SunPKCS11 decrypts PKCS #1 v1.5 and raw RSA only.
    private boolean pkcs11Offers(String transformation) {
        try {
            Cipher.getInstance(transformation, pkcs11);
            return true;
        } catch (GeneralSecurityException absent) {
            return false;
        }
    }

    // The token's key whose certificate holds the identity's public key.
    private PrivateKey tokenKey(Pkcs12Identity identity) throws GeneralSecurityException {
        for (String alias : Collections.list(token.aliases())) {
            Certificate certificate = token.getCertificate(alias);
            if (certificate != null
                    && certificate.getPublicKey().equals(identity.certificate().getPublicKey()))
                return (PrivateKey) token.getKey(alias, null);
        }
        throw new IllegalStateException("the token holds no key of " + identity.certificate()
                .getSubjectX500Principal());
    }

    /** A row's contender, and its times over the rounds. */
    private record Entry(Row row, int contender, double[] nanoseconds) {}

    // Every round runs each contender of every row once, in an order shuffled anew, so that no
    // contender always follows the same operation (whose caches it would find warm or cold). The
    // first warm-up round proves each contender's result right; later ones warm up.
    private static void measure(List<Row> rows) throws Exception {
        List<Entry> entries = new ArrayList<>();
        for (Row row : rows) {
            for (int c = 0; c < row.contenders().length; ++c) {
                if (row.contenders()[c] != null) entries.add(new Entry(row, c, new double[ROUNDS]));
            }
        }
        Random order = new Random(1);
        for (int round = -WARM_UP; round < ROUNDS; ++round) {
            Collections.shuffle(entries, order);
            for (Entry entry : entries) {
                Contender contender = entry.row().contenders()[entry.contender()];
                long nanoseconds = contender.time(
                        round == -WARM_UP ? entry.row().verify() : Objects::nonNull);
                if (round >= 0) entry.nanoseconds()[round] = nanoseconds;
            }
        }
        for (Entry entry : entries)
            entry.row().medians()[entry.contender()] = Timing.median(entry.nanoseconds()) / 1e3;
    }

    private static void print(List<Row> rows) {
        System.out.printf("median of %d rounds, every operation once a round in a shuffled order; "
                + "ratios of medians; QDIE: store of 10, logging off%n", ROUNDS);
        System.out.println("| operation | OpenSSL alone | QDIE | QDIE ÷ OpenSSL (target: met) "
                + "| the JDK's ÷ OpenSSL | SunPKCS11 ÷ OpenSSL | QDIE ahead of both "
                + "| logging on ÷ QDIE (≤ 1.10: met) "
                + "| 10,000 certificates ÷ QDIE (≤ 1.03: met) |");
        System.out.println("|---|---|---|---|---|---|---|---|---|");
        int met = 0;
        int targets = 0;
        for (Row row : rows) {
            double[] m = row.medians();
            double qdie = m[Row.QDIE];
            double openssl = m[Row.OPENSSL];
            boolean hasPkcs11 = row.contenders()[Row.PKCS11] != null;
            boolean ahead = qdie < m[Row.JDK] && (!hasPkcs11 || qdie < m[Row.PKCS11]);
            boolean[] results = {qdie / openssl <= row.target(), ahead,
                m[Row.LOGGING] / qdie <= LOGGING_TARGET,
                m[Row.LARGE_STORE] / qdie <= LARGE_STORE_TARGET};
            for (boolean result : results) met += result ? 1 : 0;
            targets += results.length;
            System.out.printf("| %s | %.1f µs | %.1f µs | %.3f (≤ %.2f: %s) | %.3f (%s) | %s "
                    + "| %s "
                    + "| %.3f (%s) | %.3f (%s) |%n",
                    row.label(), openssl, qdie, qdie / openssl, row.target(), yes(results[0]),
                    m[Row.JDK] / openssl, row.jdkProvider(),
                    hasPkcs11 ? String.format("%.3f", m[Row.PKCS11] / openssl) : "none offered",
                    yes(results[1]), m[Row.LOGGING] / qdie, yes(results[2]),
                    m[Row.LARGE_STORE] / qdie, yes(results[3]));
        }
        System.out.printf("targets met in this run: %d of %d%n", met, targets);
    }

    private static String yes(boolean met) {
        return met ? "yes" : "NO";
    }
}
