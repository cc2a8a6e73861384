// What a user who is not root may do with the machine's location that root made: read its
// certificates, and nothing else; its keys refused, never replaced by the user's own of the same
// name. Checked as user 65534 in a child process, so it needs a test run as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "softcapi/admin/admin.h"
#include "softcapi/keystore/keystore_file.h"
#include "support/child_process.h"
#include "support/host.h"
#include "support/temp_profile.h"
#include "softcapi/wincapi.h"

namespace {

using Bytes = std::vector<BYTE>;
using softcapi::Location;
namespace admin = softcapi::admin;
namespace fs = std::filesystem;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

admin::Identity makeIdentity(Location location, const std::string& container,
                             admin::KeyType keyType = admin::KeyType::Rsa1024) {
    admin::IdentityOptions options;
    options.subject = "CN=Access";
    options.keyType = keyType;
    options.placement.container = container;
    options.placement.location = location;
    return admin::createIdentity(options);
}

// Each check the child makes has its number, which it returns when that check fails.
#define CHILD_CHECK(number, condition) \
    if (!(condition)) return number

class MachineAccess : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: root makes the machine's store, and the check runs as "
                            "another user (65534), which only root can become";
        // Nobody walks through the profile to the machine's folder, and owns a profile in it.
        fs::permissions(profile_.folder(), fs::perms(0755));
        fs::create_directory(nobodysProfile_);
        ASSERT_EQ(chown(nobodysProfile_.c_str(), kNobodyId, kNobodyId), 0);
        machine_ = makeIdentity(Location::LocalMachine, "Shared Name").certificate;
        makeIdentity(Location::LocalMachine, "Shared Cng", admin::KeyType::EcP256);
    }

    TempProfile profile_;
    const std::string nobodysProfile_ = profile_.folder() + "/nobody";
    Bytes machine_;
};

TEST_F(MachineAccess, AnotherUserListsTheMachinesCertificatesAndChangesNothing) {
    const Bytes before = readFile(softcapi::keystorePath(Location::LocalMachine));
    const Bytes added = makeIdentity(Location::CurrentUser, "").certificate;
    const int failedCheck = runInChild([&] {
        HCERTSTORE maximum = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                           CERT_SYSTEM_STORE_LOCAL_MACHINE |
                                               CERT_STORE_MAXIMUM_ALLOWED_FLAG,
                                           "My");
        CHILD_CHECK(1, maximum != nullptr);
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(maximum, nullptr);
        CHILD_CHECK(2, context != nullptr && Bytes(context->pbCertEncoded,
                                                   context->pbCertEncoded +
                                                       context->cbCertEncoded) == machine_);
        CHILD_CHECK(3, !CertAddEncodedCertificateToStore(maximum, X509_ASN_ENCODING, added.data(),
                                                         static_cast<DWORD>(added.size()),
                                                         CERT_STORE_ADD_NEW, nullptr) &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        CHILD_CHECK(4, !CertDeleteCertificateFromStore(CertDuplicateCertificateContext(context)) &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        CertFreeCertificateContext(context);
        CertCloseStore(maximum, 0);
        // Opened for writing as it is, the machine's store is refused, as Windows refuses a user.
        CHILD_CHECK(5, CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "My") == nullptr &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        try {
            softcapi::KeystoreWriter writer(Location::LocalMachine);
            return 6;
        } catch (const softcapi::DatabaseError& failure) {
            CHILD_CHECK(7, failure.code == static_cast<DWORD>(E_ACCESSDENIED));
        }
        // A machine folder not yet made, which this user cannot make, refuses the same way.
        setEnvironment("QDIE_MACHINE_STORE", profile_.folder() + "/absent/machine");
        try {
            softcapi::KeystoreWriter writer(Location::LocalMachine);
            return 8;
        } catch (const softcapi::DatabaseError& failure) {
            CHILD_CHECK(9, failure.code == static_cast<DWORD>(E_ACCESSDENIED));
        }
        return 0;
    }, ChildPrivileges::Nobody);
    EXPECT_EQ(failedCheck, 0);
    EXPECT_EQ(readFile(softcapi::keystorePath(Location::LocalMachine)), before);
    EXPECT_FALSE(fs::exists(profile_.folder() + "/absent"));
}

TEST_F(MachineAccess, AnotherUserIsRefusedTheMachinesKeysAndNeverGetsItsOwnInstead) {
    const int failedCheck = runInChild([&] {
        // This user's own keys of the same names, in a profile of its own.
        setEnvironment("userprofile", nobodysProfile_);
        makeIdentity(Location::CurrentUser, "Shared Name");
        makeIdentity(Location::CurrentUser, "Shared Cng", admin::KeyType::EcP256);

        HCRYPTPROV provider = 0;
        CHILD_CHECK(1, !CryptAcquireContextA(&provider, "Shared Name", nullptr, PROV_RSA_AES,
                                             CRYPT_MACHINE_KEYSET | CRYPT_SILENT) &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        CHILD_CHECK(2, CryptAcquireContextA(&provider, "Shared Name", nullptr, PROV_RSA_AES, 0));
        CryptReleaseContext(provider, 0);

        NCRYPT_PROV_HANDLE storage = 0;
        NCRYPT_KEY_HANDLE key = 0;
        CHILD_CHECK(3, NCryptOpenStorageProvider(&storage, MS_KEY_STORAGE_PROVIDER, 0) == ERROR_SUCCESS);
        CHILD_CHECK(4, NCryptOpenKey(storage, &key, u"Shared Cng", 0, NCRYPT_MACHINE_KEY_FLAG) ==
                           static_cast<SECURITY_STATUS>(E_ACCESSDENIED));
        CHILD_CHECK(5, NCryptOpenKey(storage, &key, u"Shared Cng", 0, 0) == ERROR_SUCCESS);
        NCryptFreeObject(key);
        NCryptFreeObject(storage);

        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                         CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG,
                                         "My");
        CHILD_CHECK(6, store != nullptr);
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
        CHILD_CHECK(7, context != nullptr);
        HCRYPTPROV_OR_NCRYPT_KEY_HANDLE certificateKey = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        CHILD_CHECK(8, !CryptAcquireCertificatePrivateKey(context, 0, nullptr, &certificateKey,
                                                          &keySpec, &callerFrees) &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        CertFreeCertificateContext(context);
        CertCloseStore(store, 0);
        return 0;
    }, ChildPrivileges::Nobody);
    EXPECT_EQ(failedCheck, 0);
}

TEST_F(MachineAccess, AnotherUserMakesDeletesAndBindsNoMachineKey) {
    const std::string file = softcapi::keystorePath(Location::LocalMachine);
    const Bytes before = readFile(file);
    const int failedCheck = runInChild([&] {
        HCRYPTPROV provider = 0;
        for (const char* container : {"New Name", "Shared Name"}) {
            for (DWORD action : {DWORD{CRYPT_NEWKEYSET}, DWORD{CRYPT_DELETEKEYSET}}) {
                SetLastError(0);
                CHILD_CHECK(1, !CryptAcquireContextA(&provider, container, nullptr, PROV_RSA_AES,
                                                     action | CRYPT_MACHINE_KEYSET) &&
                                   GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
            }
        }
        NCRYPT_PROV_HANDLE storage = 0;
        NCRYPT_KEY_HANDLE key = 0;
        CHILD_CHECK(2, NCryptOpenStorageProvider(&storage, MS_KEY_STORAGE_PROVIDER, 0) == ERROR_SUCCESS);
        for (const char16_t* name : {u"New Cng", u"Shared Cng"})
            CHILD_CHECK(3, NCryptCreatePersistedKey(storage, &key, NCRYPT_ECDSA_P256_ALGORITHM, name,
                                                    0, NCRYPT_MACHINE_KEY_FLAG |
                                                           NCRYPT_OVERWRITE_KEY_FLAG) ==
                               static_cast<SECURITY_STATUS>(E_ACCESSDENIED));
        NCryptFreeObject(storage);

        HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                         CERT_SYSTEM_STORE_LOCAL_MACHINE |
                                             CERT_STORE_MAXIMUM_ALLOWED_FLAG,
                                         "My");
        PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
        CHILD_CHECK(4, context != nullptr);
        CHILD_CHECK(5, !CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0,
                                                          nullptr) &&
                           GetLastError() == static_cast<DWORD>(E_ACCESSDENIED));
        CertFreeCertificateContext(context);
        CertCloseStore(store, 0);
        return 0;
    }, ChildPrivileges::Nobody);
    EXPECT_EQ(failedCheck, 0);
    EXPECT_EQ(readFile(file), before);
}

}  // namespace
