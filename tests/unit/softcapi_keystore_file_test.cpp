// The software key store's file: where it lives, who may read it, and what a damaged or
// foreign file does to the calls that read and write it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "softcapi/admin/admin.h"
#include "softcapi/wincapi.h"
#include "support/child_process.h"
#include "support/temp_profile.h"

namespace {

using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;

const DWORD kUnsetError = 0xdeadbeef;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

Bytes newCertificate(const char* store = "Scratch") {
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=File";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    options.placement.store = store;
    return softcapi::admin::createIdentity(options).certificate;
}

// A column of the one key the key store holds, as it is stored; empty when there is none.
Bytes storedKeyColumn(const TempProfile& profile, const char* column) {
    Bytes value;
    sqlite3* db = nullptr;
    sqlite3_stmt* query = nullptr;
    std::string sql = std::string("SELECT ") + column + " FROM container_keys";
    if (sqlite3_open(profile.keystorePath().c_str(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
        const BYTE* blob = static_cast<const BYTE*>(sqlite3_column_blob(query, 0));
        value.assign(blob, blob + sqlite3_column_bytes(query, 0));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return value;
}

// Opening "My" read-only and adding to a store: both must fail with `error` and leave the file
// as it was.
void expectRefusedAndUntouched(const TempProfile& profile, DWORD error) {
    Bytes before = readFile(profile.keystorePath());
    SetLastError(kUnsetError);
    EXPECT_EQ(CertOpenSystemStoreA(0, "My"), nullptr);
    EXPECT_EQ(GetLastError(), error);
    const BYTE certificate[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_FALSE(CertAddEncodedCertificateToSystemStoreA("My", certificate, sizeof(certificate)));
    HCRYPTPROV provider = 0;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptAcquireContextA(&provider, "any", nullptr, PROV_RSA_AES, 0));
    EXPECT_EQ(GetLastError(), error);
    EXPECT_EQ(readFile(profile.keystorePath()), before);
}

TEST(KeystoreFile, MissingFileIsAnEmptyStoreAndStaysMissing) {
    TempProfile profile;
    HCERTSTORE store = CertOpenSystemStoreA(0, "My");
    ASSERT_NE(store, nullptr);
    SetLastError(kUnsetError);
    EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    EXPECT_TRUE(CertCloseStore(store, 0));
    EXPECT_FALSE(fs::exists(profile.folder() + "/.local"));
}

TEST(KeystoreFile, FolderAndFileArePrivateWhateverTheUmask) {
    TempProfile profile;
    mode_t previous = umask(0);
    newCertificate();
    umask(previous);
    struct stat info;
    ASSERT_EQ(stat(fs::path(profile.keystorePath()).parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(profile.keystorePath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Each call a process makes of the key store, in a child process: 0 when each failed with
// `error`, or the number of the first that did not.
int failuresOfEveryCall(const Bytes& certificate, const softcapi::admin::Identity& identity,
                        DWORD error) {
    SetLastError(kUnsetError);
    if (CertOpenSystemStoreA(0, "My") != nullptr || GetLastError() != error) return 1;
    SetLastError(kUnsetError);
    if (CertAddEncodedCertificateToSystemStoreA("My", certificate.data(),
                                                static_cast<DWORD>(certificate.size())) ||
        GetLastError() != error)
        return 2;
    HCRYPTPROV provider = 0;
    SetLastError(kUnsetError);
    if (CryptAcquireContextA(&provider, identity.binding.container.c_str(),
                             identity.binding.provider.c_str(), identity.binding.providerType, 0) ||
        GetLastError() != error)
        return 3;
    try {
        softcapi::admin::storeNames();
        return 4;
    } catch (const softcapi::admin::AdminError&) {
    }
    return 0;
}

softcapi::admin::Identity newIdentity() {
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Hostile";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    return softcapi::admin::createIdentity(options);
}

// A FIFO in place of the file, or of its journal, would stop the process in open() or read(),
// holding the lock every call of the process takes.
TEST(KeystoreFile, FifoInPlaceOfTheFileOrItsJournalIsRefusedWithoutWaiting) {
    for (const char* suffix : {"", "-journal"}) {
        SCOPED_TRACE(suffix);
        TempProfile profile;
        softcapi::admin::Identity identity = newIdentity();
        Bytes certificate = newCertificate();
        std::string fifo = profile.keystorePath() + suffix;
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        EXPECT_EQ(runInChild([&] {
                      return failuresOfEveryCall(certificate, identity, CRYPT_E_FILE_ERROR);
                  }),
                  0);
        EXPECT_TRUE(fs::is_fifo(fifo));
    }
}

TEST(KeystoreFile, FileTheUserMayNotReadIsAFailureToOpenNotAnEmptyStore) {
    TempProfile profile;
    softcapi::admin::Identity identity = newIdentity();
    Bytes certificate = newCertificate();
    Bytes before = readFile(profile.keystorePath());
    ASSERT_EQ(chmod(profile.keystorePath().c_str(), 0200), 0);
    EXPECT_EQ(runInChild([&] { return failuresOfEveryCall(certificate, identity, E_ACCESSDENIED); },
                         ChildPrivileges::Dropped),
              0);
    ASSERT_EQ(chmod(profile.keystorePath().c_str(), 0600), 0);
    EXPECT_EQ(readFile(profile.keystorePath()), before);
}

// A folder its owner made read-only stays so: a change then fails, and leaves everything as it was.
TEST(KeystoreFile, FolderThatExistsKeepsItsModeAndOneNotWritableRefusesChanges) {
    TempProfile profile;
    newCertificate();
    std::string folder = fs::path(profile.keystorePath()).parent_path();
    ASSERT_EQ(chmod(folder.c_str(), 0750), 0);
    Bytes certificate = newCertificate();
    struct stat info;
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);

    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    Bytes before = readFile(profile.keystorePath());
    EXPECT_EQ(runInChild(
                  [&] {
                      try {
                          newCertificate();
                          return 1;
                      } catch (const softcapi::admin::AdminError&) {
                      }
                      SetLastError(kUnsetError);
                      if (CertAddEncodedCertificateToSystemStoreA(
                              "My", certificate.data(), static_cast<DWORD>(certificate.size())))
                          return 2;
                      return GetLastError() == static_cast<DWORD>(E_ACCESSDENIED) ? 0 : 3;
                  },
                  ChildPrivileges::Dropped),
              0);
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0500u);
    chmod(folder.c_str(), 0700);
    EXPECT_EQ(readFile(profile.keystorePath()), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST(KeystoreFile, FileThatIsNotSqliteIsRefusedAndKept) {
    TempProfile profile;
    writeFile(profile.keystorePath(), Bytes(8192, 'x'));
    expectRefusedAndUntouched(profile, ERROR_FILE_CORRUPT);
}

TEST(KeystoreFile, TruncatedFileIsRefusedAndKept) {
    TempProfile profile;
    for (int i = 0; i < 12; ++i) newCertificate("My");
    Bytes whole = readFile(profile.keystorePath());
    ASSERT_GT(whole.size(), 8192u);
    writeFile(profile.keystorePath(), Bytes(whole.begin(), whole.begin() + whole.size() / 2));
    Bytes before = readFile(profile.keystorePath());
    SetLastError(kUnsetError);
    EXPECT_EQ(CertOpenSystemStoreA(0, "My"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_CORRUPT));
    EXPECT_EQ(readFile(profile.keystorePath()), before);
}

TEST(KeystoreFile, ForeignDatabaseIsRefusedAndKept) {
    TempProfile profile;
    fs::create_directories(fs::path(profile.keystorePath()).parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(profile.keystorePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES ('mine')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    expectRefusedAndUntouched(profile, ERROR_FILE_CORRUPT);
}

TEST(KeystoreFile, KeystoreWithATableMissingIsRefused) {
    TempProfile profile;
    newCertificate();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(profile.keystorePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE container_keys", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    expectRefusedAndUntouched(profile, ERROR_FILE_CORRUPT);
}

TEST(KeystoreFile, PinProtectedKeyIsStoredUnderPbes2) {
    TempProfile profile;
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Pin";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    options.placement.pin = "s3cret";
    softcapi::admin::createIdentity(options);

    Bytes stored = storedKeyColumn(profile, "pkcs8");
    // The encrypted form names PBES2 (1.2.840.113549.1.5.13) and AES-256-CBC (2.16.840.1.101.3.4.1.42).
    const Bytes pbes2 = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x05, 0x0d};
    const Bytes aes256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2a};
    EXPECT_NE(std::search(stored.begin(), stored.end(), pbes2.begin(), pbes2.end()), stored.end());
    EXPECT_NE(std::search(stored.begin(), stored.end(), aes256.begin(), aes256.end()), stored.end());
    // A plain PKCS#8 RSA key carries the rsaEncryption OID (1.2.840.113549.1.1.1) in the clear.
    const Bytes rsaEncryption = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};
    EXPECT_EQ(std::search(stored.begin(), stored.end(), rsaEncryption.begin(), rsaEncryption.end()),
              stored.end());
}

// A key damaged in the file may still parse: one byte of the private key's modulus changed makes
// every signature it gives unverifiable. The container is refused rather than used.
TEST(KeystoreFile, PrivateKeyThatNoLongerMatchesItsPublicKeyIsRefused) {
    TempProfile profile;
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Damaged";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    options.placement.container = "damaged";
    softcapi::admin::createIdentity(options);

    Bytes publicKey = storedKeyColumn(profile, "public_key");
    Bytes pkcs8 = storedKeyColumn(profile, "pkcs8");
    // Sixteen bytes from the middle of the modulus find it inside the private key too.
    auto modulusPart = publicKey.begin() + static_cast<long>(publicKey.size() / 2);
    auto found = std::search(pkcs8.begin(), pkcs8.end(), modulusPart, modulusPart + 16);
    ASSERT_NE(found, pkcs8.end());
    found[8] ^= 0x01;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(profile.keystorePath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* update = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE container_keys SET pkcs8 = ?", -1, &update, nullptr),
              SQLITE_OK);
    sqlite3_bind_blob(update, 1, pkcs8.data(), static_cast<int>(pkcs8.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
    sqlite3_finalize(update);
    sqlite3_close(db);

    HCRYPTPROV provider = 0;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptAcquireContextA(&provider, "damaged",
                                      "Microsoft Enhanced RSA and AES Cryptographic Provider",
                                      PROV_RSA_AES, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
}

}  // namespace
