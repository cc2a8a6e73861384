package com.quendrilax.browser.keystore.provider.spi;

import java.security.GeneralSecurityException;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidParameterException;
import java.security.KeyFactory;
import java.security.KeyPair;
import java.security.KeyPairGeneratorSpi;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.security.spec.ECGenParameterSpec;
import java.security.spec.RSAKeyGenParameterSpec;
import java.security.spec.X509EncodedKeySpec;
import java.util.Locale;
import java.util.Map;

/**
 * A key pair made inside the current user's key store, in a new container, never exportable: RSA
 * in the Enhanced RSA and AES CSP (or the key storage provider, by {@link
 * KeyEntries#RSA_KEYS_PROPERTY}), EC on P-256, P-384 or P-521 in the key storage provider. The
 * private key is a handle that signs at once, before any certificate exists, and that {@code
 * KeyStore.setKeyEntry} binds to one; the random source given is not used, as the store's
 * provider draws its own.
 */
final class StoreKeyPairGenerator extends KeyPairGeneratorSpi {

    private static final int RSA_DEFAULT = 2048;
    private static final int RSA_MIN = 1024;
    private static final int RSA_MAX = 16384;
    private static final int EC_DEFAULT = 256;
    private static final Map<String, Integer> CURVES = Map.of("secp256r1", 256, "p-256", 256,
            "nist p-256", 256, "1.2.840.10045.3.1.7", 256, "secp384r1", 384, "p-384", 384,
            "1.3.132.0.34", 384, "secp521r1", 521, "p-521", 521, "1.3.132.0.35", 521);

    private final KeyFamily family;
    private int bits;

    StoreKeyPairGenerator(KeyFamily family) {
        this.family = family;
        this.bits = family == KeyFamily.EC ? EC_DEFAULT : RSA_DEFAULT;
    }

    @Override
    public void initialize(int keySize, SecureRandom random) {
        if (family == KeyFamily.EC ? !CURVES.containsValue(keySize)
                : keySize < RSA_MIN || keySize > RSA_MAX || keySize % 8 != 0)
            throw new InvalidParameterException(family == KeyFamily.EC
                    ? "EC keys are made on P-256, P-384 and P-521 (256, 384, 521), not " + keySize
                    : "RSA keys are made of " + RSA_MIN + " to " + RSA_MAX
                            + " bits, a multiple of 8, not " + keySize);
        bits = keySize;
    }

    @Override
    public void initialize(AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidAlgorithmParameterException {
        if (family == KeyFamily.EC && params instanceof ECGenParameterSpec) {
            String name = ((ECGenParameterSpec) params).getName().toLowerCase(Locale.ROOT);
            Integer curveBits = CURVES.get(name);
            if (curveBits == null)
                throw new InvalidAlgorithmParameterException("the key storage provider makes"
                        + " EC keys on P-256, P-384 and P-521, not " + name);
            bits = curveBits;
        } else if (family == KeyFamily.RSA && params instanceof RSAKeyGenParameterSpec) {
            RSAKeyGenParameterSpec rsa = (RSAKeyGenParameterSpec) params;
            if (!RSAKeyGenParameterSpec.F4.equals(rsa.getPublicExponent()))
                throw new InvalidAlgorithmParameterException("the key store makes RSA keys with"
                        + " the public exponent 65537 only, not " + rsa.getPublicExponent());
            try {
                initialize(rsa.getKeysize(), random);
            } catch (InvalidParameterException e) {
                throw new InvalidAlgorithmParameterException(e.getMessage(), e);
            }
        } else {
            throw new InvalidAlgorithmParameterException("a QDIE " + family.algorithm()
                    + " key pair generator takes " + (family == KeyFamily.EC
                            ? "an ECGenParameterSpec" : "an RSAKeyGenParameterSpec"));
        }
    }

    @Override
    public KeyPair generateKeyPair() {
        boolean ec = family == KeyFamily.EC;
        boolean keyStorageProvider = ec || KeyEntries.rsaInKeyStorageProvider();
        String container = KeyEntries.newContainerName();
        StoreLocation location = StoreLocation.CURRENT_USER;
        try {
            byte[] publicKeyInfo = ProviderNatives.generateKey(location.isMachine(), container,
                    keyStorageProvider, ec, bits, null);
            PublicKey publicKey = KeyFactory.getInstance(family.algorithm())
                    .generatePublic(new X509EncodedKeySpec(publicKeyInfo));
            HandleKey privateKey = KeyFamily.handleFor(KeyOrigin.ofContainer(location, container,
                    keyStorageProvider, publicKeyInfo), container, publicKey, null,
                    keyStorageProvider);
            return new KeyPair(publicKey, privateKey);
        } catch (NativeFailure failure) {
            throw failure.asProviderException("no " + family.algorithm() + " key of " + bits
                    + " bits could be made in the key store");
        } catch (GeneralSecurityException e) {
            throw new ProviderException("the key store made a key the JDK cannot read", e);
        }
    }
}
