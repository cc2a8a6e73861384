package com.quendrilax.browser.keystore.provider.spi;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.Key;
import java.security.KeyStoreException;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.ECPrivateKey;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPrivateCrtKey;
import java.security.spec.ECGenParameterSpec;
import java.util.Arrays;
import java.util.Locale;
import java.util.Map;
import java.util.UUID;

/**
 * Keys put into a personal store through the provider: a key of any provider imported into a new
 * container with its chain, a key of this provider bound to a new chain (a certificate reply),
 * and a key entry deleted with its container.
 */
final class KeyEntries {

    /** The key storage provider's name, which a PasswordProtection may give to choose it. */
    static final String KEY_STORAGE_PROVIDER = "Microsoft Software Key Storage Provider";
    /** The system property that sends imported and generated RSA keys to it ("ksp"). */
    static final String RSA_KEYS_PROPERTY = "com.quendrilax.qdie.rsaKeys";

    private static final int NTE_EXISTS = 0x8009000F;
    /** Names tried for a new container: the alias, then the alias with a number. */
    private static final int NAMES_TRIED = 9;
    private static final int MAX_CONTAINER_NAME = 64;
    /** The curves a key storage provider holds, by the JDK's names and object identifiers. */
    private static final Map<String, Integer> CURVES = Map.of("secp256r1", 256,
            "1.2.840.10045.3.1.7", 256, "secp384r1", 384, "1.3.132.0.34", 384, "secp521r1", 521,
            "1.3.132.0.35", 521);

    private KeyEntries() {}

    /** Whether RSA keys go to the key storage provider rather than the CSP, by the property. */
    static boolean rsaInKeyStorageProvider() {
        return "ksp".equalsIgnoreCase(System.getProperty(RSA_KEYS_PROPERTY, "csp"));
    }

    /**
     * Puts the key with its chain into the personal store: imports a key of another provider
     * into a new container named after the alias, or binds a key of this provider to the chain.
     */
    static void set(StoreName store, String alias, Key key, char[] password, Certificate[] chain,
            boolean rsaInKeyStorageProvider) throws KeyStoreException {
        if (!store.isPersonal())
            throw new KeyStoreException("keys are kept in the personal store \"My\", not in \""
                    + store + "\"");
        X509Certificate[] certificates = x509Chain(chain);
        byte[] certificate = StoreEntry.encodingOf(certificates[0]);
        byte[][] issuers = new byte[certificates.length - 1][];
        for (int i = 1; i < certificates.length; ++i)
            issuers[i - 1] = StoreEntry.encodingOf(certificates[i]);
        if (key instanceof HandleKey) {
            bind((HandleKey) key, store, certificates[0], certificate, issuers);
            return;
        }
        checkIsCertificatesKey(key, certificates[0]);
        byte[][] components;
        int curveBits = 0;
        boolean keyStorageProvider = rsaInKeyStorageProvider;
        if (key instanceof RSAPrivateCrtKey) {
            RSAPrivateCrtKey rsa = (RSAPrivateCrtKey) key;
            components = unsigned(rsa.getModulus(), rsa.getPublicExponent(),
                    rsa.getPrivateExponent(), rsa.getPrimeP(), rsa.getPrimeQ(),
                    rsa.getPrimeExponentP(), rsa.getPrimeExponentQ(), rsa.getCrtCoefficient());
        } else if (key instanceof ECPrivateKey) {
            ECPublicKey publicKey = (ECPublicKey) certificates[0].getPublicKey();
            curveBits = curveBits(publicKey);
            int length = (curveBits + 7) / 8;
            components = new byte[][] {fixed(publicKey.getW().getAffineX(), length),
                    fixed(publicKey.getW().getAffineY(), length),
                    fixed(((ECPrivateKey) key).getS(), length)};
            keyStorageProvider = true;
        } else {
            throw new KeyStoreException("a QDIE key store takes RSA keys with their CRT"
                    + " components and EC keys on P-256, P-384 and P-521, not "
                    + key.getAlgorithm() + " keys of " + key.getClass().getName());
        }
        byte[] pin = null;
        try {
            pin = HandleKey.pinOf(alias, password);
            install(store, alias, keyStorageProvider, curveBits, components, pin, certificate,
                    issuers);
        } catch (UnrecoverableKeyException e) {
            throw new KeyStoreException(e.getMessage(), e);
        } finally {
            for (byte[] component : components) Arrays.fill(component, (byte) 0);
            if (pin != null) Arrays.fill(pin, (byte) 0);
        }
    }

    /** Into the first container name free in the location. */
    private static void install(StoreName store, String alias, boolean keyStorageProvider,
            int curveBits, byte[][] components, byte[] pin, byte[] certificate, byte[][] issuers)
            throws KeyStoreException {
        String base = containerBase(alias);
        for (int attempt = 1; attempt <= NAMES_TRIED + 1; ++attempt) {
            String container = attempt == 1 ? base
                    : attempt <= NAMES_TRIED ? base + "-" + attempt : newContainerName();
            try {
                ProviderNatives.installKeyEntry(store.location.isMachine(), container,
                        keyStorageProvider, curveBits, components, pin, certificate, issuers);
                return;
            } catch (NativeFailure failure) {
                if (failure.windowsError != NTE_EXISTS || attempt > NAMES_TRIED)
                    throw failure.asKeyStoreException("the key of \"" + alias
                            + "\" could not be put into the store \"" + store + "\"");
            }
        }
    }

    /** A key of this provider given a new chain: its certificate is bound to the key's container. */
    private static void bind(HandleKey key, StoreName store, X509Certificate leaf,
            byte[] certificate, byte[][] issuers) throws KeyStoreException {
        if (key.location() != store.location)
            throw new KeyStoreException("the key of \"" + key.alias() + "\" is in the "
                    + key.location().windowsName + " location; it cannot be bound in \"" + store
                    + "\"");
        if (!Arrays.equals(key.publicKey().getEncoded(), leaf.getPublicKey().getEncoded()))
            throw new KeyStoreException("the certificate \"" + leaf.getSubjectX500Principal()
                    + "\" is not for the key of \"" + key.alias() + "\": its public key differs");
        try {
            key.call(handle -> {
                ProviderNatives.bindCertificate(handle, certificate, issuers);
                return null;
            });
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException("the certificate could not be bound to the key of \""
                    + key.alias() + "\"");
        } catch (IllegalStateException destroyed) {
            throw new KeyStoreException(destroyed.getMessage(), destroyed);
        }
    }

    /** Deletes a key entry's certificate, then its container unless another certificate uses it. */
    static void delete(StoreName store, StoreEntry entry, String failed)
            throws KeyStoreException {
        try {
            ProviderNatives.deleteKeyEntry(store.location.isMachine(), entry.encoding);
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException(failed);
        }
    }

    /** A name for a container of a generated key, as certreq names one: unique, from nothing. */
    static String newContainerName() {
        return "QDIE-" + UUID.randomUUID();
    }

    /** The alias as a container name: printable ASCII without \, else a new name. */
    private static String containerBase(String alias) {
        boolean usable = !alias.isEmpty() && alias.length() <= MAX_CONTAINER_NAME
                && alias.chars().allMatch(c -> c >= 0x20 && c < 0x7f && c != '\\');
        return usable ? alias : newContainerName();
    }

    private static X509Certificate[] x509Chain(Certificate[] chain) throws KeyStoreException {
        if (chain == null || chain.length == 0)
            throw new KeyStoreException("a key entry needs the key's certificate chain");
        X509Certificate[] certificates = new X509Certificate[chain.length];
        for (int i = 0; i < chain.length; ++i) {
            if (!(chain[i] instanceof X509Certificate))
                throw new KeyStoreException("a system store holds X.509 certificates only");
            certificates[i] = (X509Certificate) chain[i];
        }
        return certificates;
    }

    /**
     * Refuses a key that is not the certificate's: a signature made with it (by its own
     * provider) must verify with the certificate's public key.
     */
    private static void checkIsCertificatesKey(Key key, X509Certificate certificate)
            throws KeyStoreException {
        if (!(key instanceof PrivateKey))
            throw new KeyStoreException("a key entry takes a private key, not a "
                    + key.getClass().getName());
        String algorithm = key.getAlgorithm().toUpperCase(Locale.ROOT);
        String signatureAlgorithm = algorithm.equals("RSA") ? "SHA256withRSA"
                : algorithm.equals("EC") ? "SHA256withECDSA" : null;
        if (signatureAlgorithm == null) return;  // refused by its type afterwards
        byte[] probe = "the key of this certificate".getBytes(StandardCharsets.US_ASCII);
        boolean matches;
        try {
            Signature signer = Signature.getInstance(signatureAlgorithm);
            signer.initSign((PrivateKey) key);
            signer.update(probe);
            byte[] signature = signer.sign();
            Signature verifier = Signature.getInstance(signatureAlgorithm);
            verifier.initVerify(certificate.getPublicKey());
            verifier.update(probe);
            matches = verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            throw new KeyStoreException("the key could not be checked against the certificate \""
                    + certificate.getSubjectX500Principal() + "\": " + e, e);
        }
        if (!matches)
            throw new KeyStoreException("the key is not the certificate's: \""
                    + certificate.getSubjectX500Principal() + "\" has another public key");
    }

    /** The key size a key storage provider names the certificate's curve by, or a refusal. */
    private static int curveBits(ECPublicKey publicKey) throws KeyStoreException {
        String name;
        try {
            AlgorithmParameters parameters = AlgorithmParameters.getInstance("EC");
            parameters.init(publicKey.getParams());
            name = parameters.getParameterSpec(ECGenParameterSpec.class).getName();
        } catch (GeneralSecurityException e) {
            throw new KeyStoreException("the EC key's curve is not a named one", e);
        }
        Integer bits = CURVES.get(name);
        if (bits == null)
            throw new KeyStoreException("the key storage provider holds EC keys on P-256, P-384"
                    + " and P-521, not on " + name);
        return bits;
    }

    private static byte[][] unsigned(BigInteger... values) {
        byte[][] bytes = new byte[values.length][];
        for (int i = 0; i < values.length; ++i) bytes[i] = fixed(values[i], 0);
        return bytes;
    }

    /** Big-endian without a sign byte, left-padded to {@code length} when that is longer. */
    private static byte[] fixed(BigInteger value, int length) {
        byte[] signed = value.toByteArray();
        int skip = signed.length > 1 && signed[0] == 0 ? 1 : 0;
        int size = Math.max(length, signed.length - skip);
        byte[] result = new byte[size];
        System.arraycopy(signed, skip, result, size - (signed.length - skip), signed.length - skip);
        Arrays.fill(signed, (byte) 0);
        return result;
    }
}
