package com.quendrilax.browser.keystore.provider.spi;

import java.security.Provider;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

/** The services of the QDIE provider. */
public final class ProviderServices {

    private static final Pattern OBJECT_IDENTIFIER = Pattern.compile("[0-9]+(\\.[0-9]+)+");

    /**
     * The key store types that always open one store, and the store: the current user's under
     * the plain type, which also goes by its location's name, and the machine's.
     */
    private static final String[][] FIXED_STORES = {
        {"QDIE-MY", StoreName.PERSONAL},
        {"QDIE-ROOT", StoreName.ROOT},
        {"QDIE-CA", StoreName.INTERMEDIATE},
    };

    private ProviderServices() {}

    /**
     * The key stores, signatures, cipher and trust manager factory of {@code provider}.
     *
     * @param configuredStore the system store the type "QDIE" opens, or null for none
     * @throws IllegalArgumentException for a store name the library cannot open
     */
    public static List<Provider.Service> of(Provider provider, String configuredStore) {
        StoreName store = configuredStore == null ? null : StoreName.of(configuredStore);
        List<Provider.Service> services = new ArrayList<>();
        for (String[] fixed : FIXED_STORES) {
            services.add(keyStore(provider, fixed[0], List.of(fixed[0] + "-CURRENTUSER"),
                    StoreName.in(StoreLocation.CURRENT_USER, fixed[1])));
            services.add(keyStore(provider, fixed[0] + "-LOCALMACHINE", List.of(),
                    StoreName.in(StoreLocation.LOCAL_MACHINE, fixed[1])));
        }
        services.add(new QDIEService(provider, "KeyStore", "QDIE", SystemStoreKeyStore.class,
                List.of(), Map.of(), null, () -> new SystemStoreKeyStore(null, store)));
        for (SigningAlgorithm algorithm : SigningAlgorithm.values()) {
            services.add(new QDIEService(provider, "Signature", algorithm.jcaName,
                    algorithm.serviceClass(), withOidForms(algorithm.aliases),
                    keyClasses(algorithm.family), algorithm.family, algorithm::newSignature));
        }
        services.add(new QDIEService(provider, "Signature", PssSignature.ALGORITHM,
                PssSignature.class, withOidForms(List.of("1.2.840.113549.1.1.10", "PSS")),
                keyClasses(KeyFamily.RSA), KeyFamily.RSA, PssSignature::new));
        // BouncyCastle's names of PSS with a given digest, which its CMS signers ask for.
        for (Digest digest : List.of(Digest.SHA256, Digest.SHA384, Digest.SHA512)) {
            String name = "SHA" + digest.jdkName.substring(4) + "withRSAandMGF1";
            services.add(new QDIEService(provider, "Signature", name, PssSignature.class,
                    List.of(name.replace("andMGF1", "SSA-PSS")), Map.of(), KeyFamily.RSA,
                    java.security.interfaces.RSAPublicKey.class,
                    () -> new PssSignature(digest)));
        }
        services.add(new QDIEService(provider, "Cipher", "RSA", HandleCipher.class, List.of(),
                Map.of("SupportedKeyClasses", KeyFamily.RSA.handleClassName(),
                        "SupportedModes", "ECB|NONE",
                        "SupportedPaddings", "PKCS1PADDING|OAEPPADDING|OAEPWITHSHA-1ANDMGF1PADDING"
                                + "|OAEPWITHSHA1ANDMGF1PADDING|OAEPWITHSHA-256ANDMGF1PADDING"
                                + "|OAEPWITHSHA-384ANDMGF1PADDING|OAEPWITHSHA-512ANDMGF1PADDING"),
                KeyFamily.RSA, () -> new HandleCipher(HandleCipher.PKCS1)));
        // BouncyCastle asks for OAEP key transport by the algorithm's object identifier.
        services.add(new QDIEService(provider, "Cipher", "RSA/ECB/OAEPPadding", HandleCipher.class,
                List.of("1.2.840.113549.1.1.7", "OID.1.2.840.113549.1.1.7"),
                keyClasses(KeyFamily.RSA), KeyFamily.RSA,
                () -> new HandleCipher(HandleCipher.OAEP)));
        for (KeyFamily family : List.of(KeyFamily.RSA, KeyFamily.EC)) {
            services.add(new QDIEService(provider, "KeyPairGenerator", family.algorithm(),
                    StoreKeyPairGenerator.class, List.of(), Map.of(), null,
                    () -> new StoreKeyPairGenerator(family)));
        }
        services.add(new QDIEService(provider, "TrustManagerFactory",
                StoreTrustManagerFactory.ALGORITHM, StoreTrustManagerFactory.class, List.of(),
                Map.of(), null, StoreTrustManagerFactory::new));
        return services;
    }

    /** The aliases and, for each object identifier among them, its "OID." form, as the JDK asks. */
    private static List<String> withOidForms(List<String> aliases) {
        List<String> all = new ArrayList<>(aliases);
        for (String alias : aliases) {
            if (OBJECT_IDENTIFIER.matcher(alias).matches()) all.add("OID." + alias);
        }
        return all;
    }

    private static Provider.Service keyStore(Provider provider, String type, List<String> aliases,
            StoreName fixedStore) {
        return new QDIEService(provider, "KeyStore", type, SystemStoreKeyStore.class, aliases,
                Map.of(), null, () -> new SystemStoreKeyStore(fixedStore, null));
    }

    private static Map<String, String> keyClasses(KeyFamily family) {
        return Map.of("SupportedKeyClasses", family.handleClassName());
    }
}
