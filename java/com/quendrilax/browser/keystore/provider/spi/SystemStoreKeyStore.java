package com.quendrilax.browser.keystore.provider.spi;

import com.quendrilax.browser.keystore.provider.QDBrowserProvider.SystemStoreParameter;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.UnrecoverableEntryException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;
import java.util.List;
import javax.security.auth.callback.Callback;
import javax.security.auth.callback.CallbackHandler;
import javax.security.auth.callback.PasswordCallback;
import javax.security.auth.callback.UnsupportedCallbackException;

/**
 * A system store of the current user or the local machine as a {@code KeyStore}. Loading reads
 * the store; setting and deleting an entry change the system store at once, and {@code store}
 * has nothing left to do.
 *
 * <p>An entry's alias is the subject's common name and the first 16 digits of its thumbprint; the
 * full SHA-1 thumbprint (40 hexadecimal digits) names the entry as well. Aliases are compared
 * ignoring case. An alias that two certificates of the store share names neither: both are listed
 * by their thumbprints, and a lookup of that alias throws, naming them. The password given for a
 * key is its container's PIN, used when signing and when decrypting.
 */
final class SystemStoreKeyStore extends KeyStoreSpi {

    /** The store a type always opens, or null for the type that is told at load. */
    private final StoreName fixedStore;
    private final StoreName configuredStore;
    private StoreContents contents;

    SystemStoreKeyStore(StoreName fixedStore, StoreName configuredStore) {
        this.fixedStore = fixedStore;
        this.configuredStore = configuredStore;
    }

    @Override
    public void engineLoad(InputStream stream, char[] password) throws IOException {
        if (stream != null)
            throw new IOException("a QDIE key store is read from the system store: load it with"
                    + " a null stream (keytool: -keystore NONE)");
        StoreName name = fixedStore != null ? fixedStore : configuredStore;
        if (name == null)
            throw new IOException("the key store type QDIE opens the system store it is told:"
                    + " load it with QDBrowserProvider.systemStore(NAME), or configure the"
                    + " provider with the name (keytool: -providerArg NAME)");
        contents = read(name);
    }

    /** The store as it is now; one that cannot be read fails the load, never lists as empty. */
    private static StoreContents read(StoreName storeName) throws IOException {
        try {
            return StoreContents.read(storeName);
        } catch (NativeFailure failure) {
            throw failure.asIOException("the system store \"" + storeName + "\" could not be read");
        }
    }

    @Override
    public void engineLoad(KeyStore.LoadStoreParameter parameter) throws IOException {
        if (parameter == null) {
            engineLoad(null, null);
            return;
        }
        if (!(parameter instanceof SystemStoreParameter))
            throw new IllegalArgumentException("a QDIE key store loads with"
                    + " QDBrowserProvider.systemStore(NAME), not " + parameter.getClass().getName());
        StoreName name = StoreName.of(((SystemStoreParameter) parameter).storeName());
        if (fixedStore != null && !fixedStore.sameStore(name))
            throw new IllegalArgumentException("this key store type opens \"" + fixedStore
                    + "\"; the type QDIE opens \"" + name + "\"");
        contents = read(name);
    }

    @Override
    public Key engineGetKey(String alias, char[] password) throws UnrecoverableKeyException {
        StoreEntry entry;
        try {
            entry = contents.find(alias);
        } catch (AmbiguousAliasException e) {
            throw (UnrecoverableKeyException) new UnrecoverableKeyException(e.getMessage())
                    .initCause(e);
        }
        if (entry == null || !entry.hasKey) return null;
        return KeyFamily.handleFor(originOf(entry), entry.alias(),
                entry.certificate.getPublicKey(), password, entry.cngKey);
    }

    @Override
    public KeyStore.Entry engineGetEntry(String alias, KeyStore.ProtectionParameter protection)
            throws KeyStoreException, UnrecoverableEntryException {
        StoreEntry entry = findChecked(alias);
        if (entry == null) return null;
        if (!entry.hasKey) return new KeyStore.TrustedCertificateEntry(entry.certificate);
        char[] pin = pinOf(entry, protection);
        try {
            return new KeyStore.PrivateKeyEntry(KeyFamily.handleFor(originOf(entry),
                    entry.alias(), entry.certificate.getPublicKey(), pin, entry.cngKey),
                    contents.chain(entry));
        } finally {
            if (pin != null) Arrays.fill(pin, '\0');
        }
    }

    /** Where the library finds the key of an entry of this store. */
    private KeyOrigin originOf(StoreEntry entry) {
        return KeyOrigin.ofCertificate(contents.storeName.location, entry.encoding);
    }

    /** The entry of this alias or thumbprint, or null; a shared alias is refused as the API's own. */
    private StoreEntry findChecked(String alias) throws KeyStoreException {
        try {
            return contents.find(alias);
        } catch (AmbiguousAliasException e) {
            throw new KeyStoreException(e.getMessage(), e);
        }
    }

    /** The PIN the protection gives: a password, one asked of a callback handler, or none. */
    private static char[] pinOf(StoreEntry entry, KeyStore.ProtectionParameter protection)
            throws UnrecoverableEntryException {
        if (protection == null) return null;
        if (protection instanceof KeyStore.PasswordProtection) {
            char[] password = ((KeyStore.PasswordProtection) protection).getPassword();
            return password == null ? null : password.clone();
        }
        if (protection instanceof KeyStore.CallbackHandlerProtection) {
            CallbackHandler handler =
                    ((KeyStore.CallbackHandlerProtection) protection).getCallbackHandler();
            PasswordCallback callback =
                    new PasswordCallback("PIN of \"" + entry.alias() + "\": ", false);
            try {
                handler.handle(new Callback[] {callback});
                return callback.getPassword();
            } catch (IOException | UnsupportedCallbackException e) {
                UnrecoverableEntryException failure = new UnrecoverableEntryException(
                        "the callback handler gave no PIN for \"" + entry.alias() + "\": " + e);
                failure.initCause(e);
                throw failure;
            } finally {
                callback.clearPassword();
            }
        }
        throw new UnrecoverableEntryException("a QDIE key takes a PasswordProtection or a"
                + " CallbackHandlerProtection, not " + protection.getClass().getName());
    }

    @Override
    public Certificate[] engineGetCertificateChain(String alias) {
        StoreEntry entry = contents.find(alias);
        return entry == null || !entry.hasKey ? null : contents.chain(entry);
    }

    @Override
    public Certificate engineGetCertificate(String alias) {
        StoreEntry entry = contents.find(alias);
        return entry == null ? null : entry.certificate;
    }

    /** The store keeps no date: this is the certificate's start of validity. */
    @Override
    public Date engineGetCreationDate(String alias) {
        StoreEntry entry = contents.find(alias);
        return entry == null ? null : entry.certificate.getNotBefore();
    }

    /**
     * Puts a key into the personal store: a key of another provider (an RSA key with its CRT
     * components, an EC key on P-256, P-384 or P-521) is imported into a new container named
     * after the alias, not exportable, the password as its PIN; a key of this provider is bound
     * to the new chain, the entry's certificate replaced (a certificate reply). The chain's end
     * certificate goes to "My" bound to the key, its issuers to "CA". An entry the alias named
     * before is replaced.
     */
    @Override
    public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain)
            throws KeyStoreException {
        setKeyEntry(alias, key, password, chain, KeyEntries.rsaInKeyStorageProvider());
    }

    private void setKeyEntry(String alias, Key key, char[] password, Certificate[] chain,
            boolean rsaInKeyStorageProvider) throws KeyStoreException {
        StoreEntry replaced = findChecked(alias);
        KeyEntries.set(contents.storeName, alias, key, password, chain, rsaInKeyStorageProvider);
        reread();
        StoreEntry added = contents.findCertificate(
                StoreEntry.encodingOf((X509Certificate) chain[0]));
        if (replaced != null && added != null && !replaced.thumbprint.equals(added.thumbprint)
                && contents.findCertificate(replaced.encoding) != null)
            deleteEntry(replaced, "the new key entry was put in, but the entry it replaces could"
                    + " not be deleted");
    }

    /**
     * As {@link #engineSetKeyEntry}; a {@code PasswordProtection} whose protection algorithm is
     * "Microsoft Software Key Storage Provider" puts an RSA key into that provider.
     */
    @Override
    public void engineSetEntry(String alias, KeyStore.Entry entry,
            KeyStore.ProtectionParameter protection) throws KeyStoreException {
        if (!(entry instanceof KeyStore.PrivateKeyEntry)) {
            super.engineSetEntry(alias, entry, protection);
            return;
        }
        char[] password = null;
        boolean keyStorageProvider = KeyEntries.rsaInKeyStorageProvider();
        if (protection instanceof KeyStore.PasswordProtection) {
            KeyStore.PasswordProtection given = (KeyStore.PasswordProtection) protection;
            password = given.getPassword();
            keyStorageProvider |= KeyEntries.KEY_STORAGE_PROVIDER
                    .equalsIgnoreCase(given.getProtectionAlgorithm());
        } else if (protection != null) {
            throw new KeyStoreException("a QDIE key takes a PasswordProtection, not "
                    + protection.getClass().getName());
        }
        KeyStore.PrivateKeyEntry privateKey = (KeyStore.PrivateKeyEntry) entry;
        setKeyEntry(alias, privateKey.getPrivateKey(), password,
                privateKey.getCertificateChain(), keyStorageProvider);
    }

    /** A protected encoding is not a key the store can take. */
    @Override
    public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain)
            throws KeyStoreException {
        throw new KeyStoreException("a QDIE key store takes keys as Key objects, not as"
                + " protected encodings");
    }

    /** The store as it is now, after a change of several steps. */
    private void reread() throws KeyStoreException {
        try {
            contents = StoreContents.read(contents.storeName);
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException("the system store \"" + contents.storeName
                    + "\" was changed but could not be read again");
        }
    }

    /**
     * Adds the certificate to the system store at once; it then goes by its own alias. An
     * existing certificate entry of this alias is replaced: the new certificate is added first
     * and the old one deleted after, so that a store that does not take the new one keeps the
     * old. A key entry is not replaced.
     */
    @Override
    public void engineSetCertificateEntry(String alias, Certificate certificate)
            throws KeyStoreException {
        if (!(certificate instanceof X509Certificate))
            throw new KeyStoreException("a system store holds X.509 certificates only");
        byte[] encoding = StoreEntry.encodingOf((X509Certificate) certificate);
        StoreEntry existing = findChecked(alias);
        if (existing != null && existing.hasKey)
            throw new KeyStoreException("\"" + alias + "\" is a key entry; its certificate"
                    + " stays as long as its key");
        if (existing != null && Arrays.equals(existing.encoding, encoding)) return;
        StoreName store = contents.storeName;
        try {
            ProviderNatives.addCertificate(store.location.isMachine(), store.name, encoding);
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException("the store \"" + store + "\" did not take the"
                    + " certificate");
        }
        contents = contents.withAdded(
                new StoreEntry((X509Certificate) certificate, encoding, false));
        if (existing != null) delete(existing, "the new certificate was added, but the one it"
                + " replaces could not be deleted");
    }

    /**
     * Deletes the certificate from the system store at once; a key entry's container goes too,
     * unless another certificate is bound to it.
     */
    @Override
    public void engineDeleteEntry(String alias) throws KeyStoreException {
        StoreEntry entry = findChecked(alias);
        if (entry != null) deleteEntry(entry, "\"" + entry.alias() + "\" could not be deleted");
    }

    /** A key entry with its container (unless another certificate uses it); another alone. */
    private void deleteEntry(StoreEntry entry, String failed) throws KeyStoreException {
        if (!entry.hasKey) {
            delete(entry, failed);
            return;
        }
        KeyEntries.delete(contents.storeName, entry, failed);
        contents = contents.without(entry);
    }

    private void delete(StoreEntry entry, String failed) throws KeyStoreException {
        try {
            StoreName store = contents.storeName;
            ProviderNatives.deleteCertificate(store.location.isMachine(), store.name,
                    entry.encoding);
        } catch (NativeFailure failure) {
            throw failure.asKeyStoreException(failed);
        }
        // A certificate another program deleted first is gone all the same.
        contents = contents.without(entry);
    }

    @Override
    public Enumeration<String> engineAliases() {
        List<String> aliases = new ArrayList<>();
        for (StoreEntry entry : contents.entries()) aliases.add(entry.alias());
        return Collections.enumeration(aliases);
    }

    @Override
    public boolean engineContainsAlias(String alias) {
        return contents.find(alias) != null;
    }

    @Override
    public int engineSize() {
        return contents.entries().size();
    }

    @Override
    public boolean engineIsKeyEntry(String alias) {
        StoreEntry entry = contents.find(alias);
        return entry != null && entry.hasKey;
    }

    @Override
    public boolean engineIsCertificateEntry(String alias) {
        StoreEntry entry = contents.find(alias);
        return entry != null && !entry.hasKey;
    }

    @Override
    public String engineGetCertificateAlias(Certificate certificate) {
        if (!(certificate instanceof X509Certificate)) return null;
        StoreEntry entry =
                contents.findCertificate(StoreEntry.encodingOf((X509Certificate) certificate));
        return entry == null ? null : entry.alias();
    }

    /** Nothing to write: every change reached the system store when it was made. */
    @Override
    public void engineStore(OutputStream stream, char[] password) {}

    @Override
    public void engineStore(KeyStore.LoadStoreParameter parameter) {}
}
