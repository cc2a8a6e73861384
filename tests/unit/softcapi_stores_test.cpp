// The software CryptoAPI's stores beyond what Windows shows: names it refuses, snapshots that
// notice changes made elsewhere, and writers in other processes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "softcapi/admin/admin.h"
#include "softcapi/wincapi.h"
#include "support/temp_profile.h"

namespace {

using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;

const DWORD kUnsetError = 0xdeadbeef;
const char kDssProvider[] = "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider";

Bytes newIdentity(const char* store) {
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Store";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    options.placement.store = store;
    return softcapi::admin::createIdentity(options).certificate;
}

size_t countCertificates(const char* store) {
    HCERTSTORE handle = CertOpenSystemStoreA(0, store);
    if (handle == nullptr) return SIZE_MAX;
    size_t count = 0;
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(handle, context)) != nullptr;)
        ++count;
    CertCloseStore(handle, 0);
    return count;
}

TEST(StoreNames, RefusedNamesTouchNothing) {
    TempProfile profile;
    Bytes certificate = newIdentity("Scratch");
    const std::string refused[] = {"", "a/b", "..\\My", "../../etc", "tab\there", "del\x7f",
                                   std::string(256, 'n')};
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        SetLastError(kUnsetError);
        EXPECT_EQ(CertOpenSystemStoreA(0, name.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
        SetLastError(kUnsetError);
        EXPECT_FALSE(CertAddEncodedCertificateToSystemStoreA(
            name.c_str(), certificate.data(), static_cast<DWORD>(certificate.size())));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    }
    std::u16string wide = u"a/b";
    SetLastError(kUnsetError);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                            wide.c_str()),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(softcapi::admin::storeNames(), std::vector<std::string>{"Scratch"});
    // The longest name allowed is accepted.
    EXPECT_TRUE(CertAddEncodedCertificateToSystemStoreA(std::string(255, 'n').c_str(),
                                                        certificate.data(),
                                                        static_cast<DWORD>(certificate.size())));
}

TEST(StoreSnapshots, ChangesMadeElsewhereAreSeenOnTheNextOpen) {
    TempProfile profile;
    newIdentity("My");
    HCERTSTORE before = CertOpenSystemStoreA(0, "My");
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(countCertificates("My"), 1u);
    newIdentity("My");
    EXPECT_EQ(countCertificates("My"), 2u);
    // A handle keeps the contents it was opened with.
    size_t seen = 0;
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(before, context)) != nullptr;)
        ++seen;
    EXPECT_EQ(seen, 1u);
    EXPECT_TRUE(CertCloseStore(before, 0));
}

TEST(StoreSnapshots, AnotherProfileHoldsOtherContainers) {
    TempProfile profile;
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Gone";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    softcapi::admin::Identity identity = softcapi::admin::createIdentity(options);
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, identity.binding.container.c_str(),
                                     identity.binding.provider.c_str(),
                                     identity.binding.providerType, 0));
    CryptReleaseContext(provider, 0);
    {
        TempProfile other;
        SetLastError(kUnsetError);
        EXPECT_FALSE(CryptAcquireContextA(&provider, identity.binding.container.c_str(),
                                          identity.binding.provider.c_str(),
                                          identity.binding.providerType, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
    }
}

TEST(StoreSnapshots, AnotherProcessAddingWhileThisOneListsLosesNothing) {
    TempProfile profile;
    const int kCertificates = 20;
    std::vector<Bytes> certificates;
    for (int i = 0; i < kCertificates; ++i) certificates.push_back(newIdentity("Scratch"));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = true;
        for (const Bytes& certificate : certificates)
            ok = ok && CertAddEncodedCertificateToSystemStoreA(
                           "Shared", certificate.data(), static_cast<DWORD>(certificate.size()));
        _exit(ok ? 0 : 1);
    }
    size_t last = 0;
    bool monotonic = true;
    for (int i = 0; i < 200 && last < static_cast<size_t>(kCertificates); ++i) {
        size_t count = countCertificates("Shared");
        ASSERT_NE(count, SIZE_MAX) << std::hex << GetLastError();
        monotonic = monotonic && count >= last;
        last = count;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(countCertificates("Shared"), static_cast<size_t>(kCertificates));
}

TEST(ContainerDeletion, KeysGoCertificatesStayAndTheNameIsFreeAgain) {
    TempProfile profile;
    softcapi::admin::IdentityOptions options;
    options.subject = "CN=Deleted";
    options.keyType = softcapi::admin::KeyType::Rsa1024;
    options.placement.container = "Deleted";
    softcapi::admin::Identity first = softcapi::admin::createIdentity(options);
    HCRYPTPROV provider = 0;
    // Acquired first, so that a cached container cannot outlive its deletion.
    ASSERT_TRUE(CryptAcquireContextA(&provider, "Deleted", first.binding.provider.c_str(),
                                     first.binding.providerType, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));

    EXPECT_THROW(softcapi::admin::deleteContainer("Deleted", kDssProvider), softcapi::admin::AdminError);
    EXPECT_THROW(softcapi::admin::deleteContainer("Deleted", "No Such Provider"),
                 softcapi::admin::AdminError);
    softcapi::admin::deleteContainer("deleted");  // container names ignore case, as on Windows
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptAcquireContextA(&provider, "Deleted", first.binding.provider.c_str(),
                                      first.binding.providerType, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
    std::vector<softcapi::admin::CertificateEntry> listed = softcapi::admin::storeContents("My");
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_TRUE(listed[0].binding.has_value());
    EXPECT_EQ(listed[0].binding->container, "Deleted");
    EXPECT_THROW(softcapi::admin::deleteContainer("Deleted"), softcapi::admin::AdminError);

    // A new container of the same name holds the new key alone.
    softcapi::admin::Identity second = softcapi::admin::createIdentity(options);
    ASSERT_TRUE(CryptAcquireContextA(&provider, "Deleted", second.binding.provider.c_str(),
                                     second.binding.providerType, 0));
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptGetUserKey(provider, AT_KEYEXCHANGE, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptGetUserKey(provider, AT_SIGNATURE, &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(profile.keystorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM container_keys", -1, &count, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 1);
    sqlite3_finalize(count);
    sqlite3_close(db);
}

TEST(Handles, StaleAndForeignHandlesAreErrors) {
    TempProfile profile;
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptReleaseContext(0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptReleaseContext(0x7777, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CryptDestroyHash(0x7777));
    EXPECT_FALSE(CryptDestroyKey(0x7777));
    EXPECT_TRUE(CertCloseStore(nullptr, 0));
    HCERTSTORE store = CertOpenSystemStoreA(0, "My");
    ASSERT_TRUE(CertCloseStore(store, 0));
    SetLastError(kUnsetError);
    EXPECT_FALSE(CertCloseStore(store, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HCRYPTPROV verify = 0;
    ASSERT_TRUE(CryptAcquireContextA(&verify, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(verify, CALG_SHA_256, 0, 0, &hash));
    EXPECT_TRUE(CryptReleaseContext(verify, 0));
    SetLastError(kUnsetError);
    EXPECT_FALSE(CryptReleaseContext(verify, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));
}

}  // namespace
