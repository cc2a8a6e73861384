// The local machine's location: a key store of its own beside the user's, made with the modes
// every user may read, its private keys sealed under the machine's secret, and its roots layered
// beneath the user's.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "softcapi/admin/admin.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/keystore/machine_secret.h"
#include "softcapi/keystore/sealed_key.h"
#include "softcapi/wincapi.h"
#include "support/temp_profile.h"

namespace {

using Bytes = std::vector<BYTE>;
using softcapi::Location;
namespace admin = softcapi::admin;
namespace fs = std::filesystem;

const DWORD kUnsetError = 0xdeadbeef;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

admin::Identity makeIdentity(Location location, const std::string& container,
                             const std::string& store = "My") {
    admin::IdentityOptions options;
    options.subject = location == Location::LocalMachine ? "CN=Machine" : "CN=User";
    options.keyType = admin::KeyType::Rsa1024;
    options.placement.container = container;
    options.placement.store = store;
    options.placement.location = location;
    return admin::createIdentity(options);
}

HCERTSTORE openStore(DWORD location, const char* name, DWORD flags = CERT_STORE_READONLY_FLAG) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, location | flags, name);
}

std::vector<Bytes> listStore(DWORD location, const char* name) {
    std::vector<Bytes> listed;
    HCERTSTORE store = openStore(location, name);
    EXPECT_NE(store, nullptr) << std::hex << GetLastError();
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(store, context)) != nullptr;)
        listed.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    CertCloseStore(store, 0);
    return listed;
}

// The store's context of a certificate, for the caller to free; null when it is not there.
PCCERT_CONTEXT findIn(HCERTSTORE store, const Bytes& certificate) {
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(store, context)) != nullptr;) {
        if (Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded) ==
            certificate)
            return context;
    }
    return nullptr;
}

// The public blob of a container's exchange key.
Bytes exchangePublicBlob(HCRYPTPROV provider) {
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(provider, AT_KEYEXCHANGE, &key)) return {};
    DWORD size = 0;
    Bytes blob;
    if (CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
        blob.resize(size);
        if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size)) blob.clear();
    }
    CryptDestroyKey(key);
    return blob;
}

// The container the flags open, and the keyset it reports; an empty blob when it does not open.
struct OpenedContainer {
    Bytes publicBlob;
    DWORD keysetType = 0xffffffff;
    DWORD error = ERROR_SUCCESS;
};

OpenedContainer openContainer(const char* name, DWORD flags) {
    OpenedContainer opened;
    HCRYPTPROV provider = 0;
    SetLastError(kUnsetError);
    if (!CryptAcquireContextA(&provider, name, nullptr, PROV_RSA_AES, flags)) {
        opened.error = GetLastError();
        return opened;
    }
    opened.publicBlob = exchangePublicBlob(provider);
    DWORD size = sizeof(opened.keysetType);
    CryptGetProvParam(provider, PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&opened.keysetType), &size, 0);
    CryptReleaseContext(provider, 0);
    return opened;
}

// The blob of the certificate's key, imported into a verify-only context.
Bytes certificatePublicBlob(const Bytes& certificate) {
    PCCERT_CONTEXT context = nullptr;
    HCERTSTORE store = nullptr;
    for (DWORD location : {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        store = openStore(location, "My");
        context = findIn(store, certificate);
        if (context != nullptr) break;
        CertCloseStore(store, 0);
    }
    if (context == nullptr) return {};
    HCRYPTPROV verifier = 0;
    HCRYPTKEY key = 0;
    Bytes blob;
    DWORD size = 0;
    if (CryptAcquireContextA(&verifier, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptImportPublicKeyInfo(verifier, X509_ASN_ENCODING,
                                 &context->pCertInfo->SubjectPublicKeyInfo, &key) &&
        CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
        blob.resize(size);
        CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size);
    }
    if (key != 0) CryptDestroyKey(key);
    if (verifier != 0) CryptReleaseContext(verifier, 0);
    CertFreeCertificateContext(context);
    CertCloseStore(store, 0);
    return blob;
}

DWORD keyProvInfoFlags(PCCERT_CONTEXT context) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return 0xffffffff;
    std::vector<BYTE> buffer(size);
    CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
    return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->dwFlags;
}

// Runs a statement on the machine's key store file, as another program would.
void editMachineFile(const TempProfile& profile, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((profile.machineStorePath() + "/keystore.db").c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << message;
    sqlite3_free(message);
    sqlite3_close(db);
}

class MachineLocation : public ::testing::Test {
protected:
    TempProfile profile_;
};

TEST_F(MachineLocation, StoresAndKeysOfTheSameNamesAreApart) {
    const admin::Identity user = makeIdentity(Location::CurrentUser, "Twin");
    const admin::Identity machine = makeIdentity(Location::LocalMachine, "Twin");

    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "My"), std::vector<Bytes>{user.certificate});
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, "My"),
              std::vector<Bytes>{machine.certificate});

    const OpenedContainer users = openContainer("Twin", 0);
    const OpenedContainer machines = openContainer("Twin", CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
    ASSERT_EQ(users.error, ERROR_SUCCESS);
    ASSERT_EQ(machines.error, ERROR_SUCCESS);
    EXPECT_EQ(users.publicBlob, certificatePublicBlob(user.certificate));
    EXPECT_EQ(machines.publicBlob, certificatePublicBlob(machine.certificate));
    EXPECT_NE(users.publicBlob, machines.publicBlob);
    EXPECT_EQ(users.keysetType, 0u);
    EXPECT_EQ(machines.keysetType, static_cast<DWORD>(CRYPT_MACHINE_KEYSET));

    // A machine certificate's binding says its key is the machine's, and its key is opened there.
    HCERTSTORE store = openStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, "My");
    PCCERT_CONTEXT context = findIn(store, machine.certificate);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(keyProvInfoFlags(context), static_cast<DWORD>(CRYPT_MACHINE_KEYSET));
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    EXPECT_TRUE(CryptAcquireCertificatePrivateKey(context, CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr,
                                                  &key, &keySpec, &callerFrees))
        << std::hex << GetLastError();
    if (key != 0) CryptReleaseContext(key, 0);
    CertFreeCertificateContext(context);
    CertCloseStore(store, 0);

    HCERTSTORE userStore = openStore(CERT_SYSTEM_STORE_CURRENT_USER, "My");
    PCCERT_CONTEXT userContext = findIn(userStore, user.certificate);
    ASSERT_NE(userContext, nullptr);
    EXPECT_EQ(keyProvInfoFlags(userContext), 0u);
    CertFreeCertificateContext(userContext);
    CertCloseStore(userStore, 0);
}

TEST_F(MachineLocation, CngKeysOfTheSameNameAreApartAndSayWhereTheyLive) {
    admin::IdentityOptions options;
    options.subject = "CN=Cng";
    options.keyType = admin::KeyType::EcP256;
    options.placement.container = "TwinCng";
    const admin::Identity user = admin::createIdentity(options);
    options.placement.location = Location::LocalMachine;
    const admin::Identity machine = admin::createIdentity(options);

    NCRYPT_PROV_HANDLE provider = 0;
    ASSERT_EQ(NCryptOpenStorageProvider(&provider, MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
    auto publicBlobAndType = [&](DWORD flags, Bytes& blob, DWORD& type) {
        NCRYPT_KEY_HANDLE key = 0;
        SECURITY_STATUS status = NCryptOpenKey(provider, &key, u"TwinCng", 0, flags);
        if (status != ERROR_SUCCESS) return status;
        DWORD size = 0;
        NCryptExportKey(key, 0, BCRYPT_ECCPUBLIC_BLOB, nullptr, nullptr, 0, &size, 0);
        blob.resize(size);
        NCryptExportKey(key, 0, BCRYPT_ECCPUBLIC_BLOB, nullptr, blob.data(), size, &size, 0);
        NCryptGetProperty(key, NCRYPT_KEY_TYPE_PROPERTY, reinterpret_cast<BYTE*>(&type),
                          sizeof(type), &size, 0);
        return NCryptFreeObject(key);
    };
    Bytes userBlob, machineBlob;
    DWORD userType = 0xffffffff, machineType = 0xffffffff;
    ASSERT_EQ(publicBlobAndType(0, userBlob, userType), ERROR_SUCCESS);
    ASSERT_EQ(publicBlobAndType(NCRYPT_MACHINE_KEY_FLAG, machineBlob, machineType), ERROR_SUCCESS);
    EXPECT_NE(userBlob, machineBlob);
    EXPECT_EQ(userType, 0u);
    EXPECT_EQ(machineType, static_cast<DWORD>(NCRYPT_MACHINE_KEY_FLAG));
    NCryptFreeObject(provider);

    // A provider opened for the machine opens the machine's key, whatever the key's flags say.
    ASSERT_EQ(NCryptOpenStorageProvider(&provider, MS_KEY_STORAGE_PROVIDER, NCRYPT_MACHINE_KEY_FLAG),
              ERROR_SUCCESS);
    Bytes throughMachineProvider;
    DWORD type = 0xffffffff;
    ASSERT_EQ(publicBlobAndType(0, throughMachineProvider, type), ERROR_SUCCESS);
    EXPECT_EQ(throughMachineProvider, machineBlob);
    NCryptFreeObject(provider);
}

TEST_F(MachineLocation, RootMakesTheFolderFileAndSecretWithTheirModesWhateverTheUmask) {
    for (mode_t mask : {mode_t(0077), mode_t(0)}) {
        fs::remove_all(profile_.machineStorePath());
        const mode_t before = umask(mask);
        makeIdentity(Location::LocalMachine, "Moded");
        umask(before);
        struct stat folder, file, secret;
        ASSERT_EQ(stat(profile_.machineStorePath().c_str(), &folder), 0);
        ASSERT_EQ(stat(softcapi::keystorePath(Location::LocalMachine).c_str(), &file), 0);
        ASSERT_EQ(stat(softcapi::machineSecretPath().c_str(), &secret), 0);
        EXPECT_EQ(folder.st_mode & 07777, 0755u) << "umask " << mask;
        EXPECT_EQ(file.st_mode & 07777, 0644u) << "umask " << mask;
        EXPECT_EQ(secret.st_mode & 07777, 0600u) << "umask " << mask;
        EXPECT_EQ(secret.st_size, 32);
    }
}

TEST_F(MachineLocation, PrivateKeysAreSealedAndTheSecretIsNeverInTheFile) {
    makeIdentity(Location::LocalMachine, "Sealed");
    makeIdentity(Location::LocalMachine, "Sealed Too");
    const Bytes file = readFile(softcapi::keystorePath(Location::LocalMachine));
    const std::optional<common::SecureBytes> secret = softcapi::readMachineSecret();
    ASSERT_TRUE(secret.has_value());
    EXPECT_EQ(std::search(file.begin(), file.end(), secret->data(), secret->data() + secret->size()),
              file.end());

    // What the row holds is no private key until it is unsealed for its own place.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(softcapi::keystorePath(Location::LocalMachine).c_str(), &db), SQLITE_OK);
    sqlite3_stmt* row = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT c.name, k.key_spec, k.pkcs8 FROM container_keys k "
                                 "JOIN containers c ON c.id = k.container_id ORDER BY c.id",
                                 -1, &row, nullptr),
              SQLITE_OK);
    std::vector<Bytes> sealedRows;
    while (sqlite3_step(row) == SQLITE_ROW) {
        const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
        const DWORD keySpec = static_cast<DWORD>(sqlite3_column_int(row, 1));
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(row, 2));
        common::SecureBytes sealed(bytes, static_cast<size_t>(sqlite3_column_bytes(row, 2)));
        const unsigned char* in = sealed.data();
        EVP_PKEY* parsed = d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(sealed.size()));
        EXPECT_EQ(parsed, nullptr) << name;
        EVP_PKEY_free(parsed);
        common::SecureBytes plain;
        ASSERT_TRUE(softcapi::unsealKey(*secret, {softcapi::KeyFamily::Rsa, name, keySpec}, sealed, plain));
        in = plain.data();
        parsed = d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(plain.size()));
        EXPECT_NE(parsed, nullptr) << name;
        EVP_PKEY_free(parsed);
        EXPECT_FALSE(softcapi::unsealKey(*secret, {softcapi::KeyFamily::Rsa, name + "x", keySpec},
                                         sealed, plain));
        sealedRows.emplace_back(sealed.data(), sealed.data() + sealed.size());
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    ASSERT_EQ(sealedRows.size(), 2u);
}

TEST_F(MachineLocation, ATamperedOrMovedKeyRowIsRefusedAndNoOtherKeyIsUsed) {
    makeIdentity(Location::LocalMachine, "Flipped");
    makeIdentity(Location::LocalMachine, "Mover");
    makeIdentity(Location::LocalMachine, "Target");
    makeIdentity(Location::CurrentUser, "Flipped");
    // A byte of the ciphertext changed, as damage on disk would; another container's sealed key
    // put in Target's row.
    editMachineFile(profile_,
                    "UPDATE container_keys SET pkcs8 = CAST(substr(pkcs8, 1, 20) || "
                    "CASE WHEN substr(pkcs8, 21, 1) = X'00' THEN X'01' ELSE X'00' END || "
                    "substr(pkcs8, 22) AS BLOB) WHERE container_id = "
                    "(SELECT id FROM containers WHERE name = 'Flipped')");
    editMachineFile(profile_,
                    "UPDATE container_keys SET pkcs8 = (SELECT pkcs8 FROM container_keys WHERE "
                    "container_id = (SELECT id FROM containers WHERE name = 'Mover')) WHERE "
                    "container_id = (SELECT id FROM containers WHERE name = 'Target')");
    for (const char* name : {"Flipped", "Target"})
        EXPECT_EQ(openContainer(name, CRYPT_MACHINE_KEYSET).error,
                  static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD))
            << name;
    EXPECT_EQ(openContainer("Mover", CRYPT_MACHINE_KEYSET).error, ERROR_SUCCESS);
    // The user's key of the same name is never what a machine opening falls back to.
    EXPECT_EQ(openContainer("Flipped", 0).error, ERROR_SUCCESS);
}

class MachineRootLayers : public MachineLocation {
protected:
    void SetUp() override {
        // The bundle holds the machine file's root too: it is listed once.
        std::ofstream(profile_.machineRootsPath()) << pemOf(bundled_) << pemOf(machine_);
    }

    // The certificate as PEM, as OpenSSL writes it.
    static std::string pemOf(const Bytes& der) {
        const unsigned char* in = der.data();
        X509* certificate = d2i_X509(nullptr, &in, static_cast<long>(der.size()));
        BIO* out = BIO_new(BIO_s_mem());
        std::string pem;
        if (certificate != nullptr && out != nullptr && PEM_write_bio_X509(out, certificate) == 1) {
            char* text = nullptr;
            const long size = BIO_get_mem_data(out, &text);
            pem.assign(text, static_cast<size_t>(size));
        }
        BIO_free(out);
        X509_free(certificate);
        return pem;
    }

    // Deletes the certificate through a writable view of the location's Root.
    DWORD deleteThrough(DWORD location, const Bytes& certificate) {
        HCERTSTORE store = openStore(location, "Root", 0);
        if (store == nullptr) return GetLastError();
        PCCERT_CONTEXT context = findIn(store, certificate);
        DWORD error = context == nullptr                        ? CRYPT_E_NOT_FOUND
                      : CertDeleteCertificateFromStore(context) ? ERROR_SUCCESS
                                                                : GetLastError();
        CertCloseStore(store, 0);
        return error;
    }

    const Bytes own_ = makeIdentity(Location::CurrentUser, "", "Root").certificate;
    const Bytes machine_ = makeIdentity(Location::LocalMachine, "", "Root").certificate;
    const Bytes bundled_ = makeIdentity(Location::CurrentUser, "", "Scratch").certificate;
};

TEST_F(MachineRootLayers, TheUsersRootShowsTheMachinesBeneathItsOwnEachOnceReadOnly) {
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "Root"),
              (std::vector<Bytes>{own_, machine_, bundled_}));
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"),
              (std::vector<Bytes>{machine_, bundled_}));

    for (const Bytes& machines : {machine_, bundled_})
        EXPECT_EQ(deleteThrough(CERT_SYSTEM_STORE_CURRENT_USER, machines),
                  static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(deleteThrough(CERT_SYSTEM_STORE_LOCAL_MACHINE, bundled_),
              static_cast<DWORD>(E_ACCESSDENIED));
    // The machine's own root is root's to delete, through the machine's Root.
    EXPECT_EQ(deleteThrough(CERT_SYSTEM_STORE_LOCAL_MACHINE, machine_), ERROR_SUCCESS);
    EXPECT_TRUE(admin::storeContents("Root", Location::LocalMachine).empty());
    // Still in the bundle: both views show it there, once.
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"),
              (std::vector<Bytes>{bundled_, machine_}));
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "Root"),
              (std::vector<Bytes>{own_, bundled_, machine_}));
}

TEST_F(MachineRootLayers, AnUnreadableMachineFileIsAnEmptyLayerOfTheUsersViewOnly) {
    const std::string file = softcapi::keystorePath(Location::LocalMachine);
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "Root"),
              (std::vector<Bytes>{own_, bundled_, machine_}));
    SetLastError(kUnsetError);
    EXPECT_EQ(openStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_FILE_ERROR));
}

// CA, Trust and Disallowed are layered as Root is, without a bundle: the user's own, then the
// machine file's store of the same name, read-only; My is the user's alone.
TEST_F(MachineLocation, TheUsersCaTrustAndDisallowedShowTheMachinesBeneathTheirOwn) {
    for (const char* name : {"CA", "Trust", "Disallowed"}) {
        const Bytes own = makeIdentity(Location::CurrentUser, "", name).certificate;
        const Bytes machine = makeIdentity(Location::LocalMachine, "", name).certificate;
        const Bytes both = makeIdentity(Location::LocalMachine, "", name).certificate;
        admin::addCertificate(name, both, Location::CurrentUser);
        EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, name),
                  (std::vector<Bytes>{own, both, machine}))
            << name;
        EXPECT_EQ(listStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, name),
                  (std::vector<Bytes>{machine, both}))
            << name;
        HCERTSTORE store = openStore(CERT_SYSTEM_STORE_CURRENT_USER, name, 0);
        SetLastError(kUnsetError);
        EXPECT_FALSE(CertDeleteCertificateFromStore(findIn(store, machine))) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_ACCESSDENIED)) << name;
        CertCloseStore(store, 0);
        EXPECT_EQ(admin::storeContents(name, Location::LocalMachine).size(), 2u) << name;
    }
    makeIdentity(Location::LocalMachine, "", "My");
    EXPECT_TRUE(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "My").empty());

    const std::string file = softcapi::keystorePath(Location::LocalMachine);
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(listStore(CERT_SYSTEM_STORE_CURRENT_USER, "CA").size(), 2u)
        << "an unreadable machine file: an empty layer";
}

}  // namespace
