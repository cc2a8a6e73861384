// Keys made through CryptoAPI and CNG as the key store keeps them: the rows the administration
// would write for such a key, PIN-protected as asked, and the machine's sealed under its secret.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "softcapi/admin/admin.h"
#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/keystore_file.h"
#include "softcapi/keystore/machine_secret.h"
#include "softcapi/keystore/sealed_key.h"
#include "softcapi/wincapi.h"
#include "support/temp_profile.h"

namespace {

using softcapi::Location;
namespace admin = softcapi::admin;

// A CSP container made with a PIN and a generated exchange key.
void makeCspKey(const char* name, DWORD keySet) {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    static const BYTE kPin[] = "1357";
    ASSERT_TRUE(CryptAcquireContextA(&provider, name, nullptr, PROV_RSA_AES, CRYPT_NEWKEYSET | keySet));
    EXPECT_TRUE(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, kPin, 0));
    EXPECT_TRUE(CryptGenKey(provider, AT_KEYEXCHANGE, 2048u << 16, &key)) << std::hex << GetLastError();
    CryptDestroyKey(key);
    CryptReleaseContext(provider, 0);
}

void makeCngKey(const char16_t* name, DWORD keySet) {
    NCRYPT_PROV_HANDLE storage = 0;
    NCRYPT_KEY_HANDLE key = 0;
    ASSERT_EQ(NCryptOpenStorageProvider(&storage, MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
    EXPECT_EQ(NCryptCreatePersistedKey(storage, &key, NCRYPT_ECDSA_P384_ALGORITHM, name, 0, keySet),
              ERROR_SUCCESS);
    EXPECT_EQ(NCryptFinalizeKey(key, 0), ERROR_SUCCESS);
    NCryptFreeObject(key);
    NCryptFreeObject(storage);
}

// The stored PKCS#8 of a container's key, as the file holds it.
common::SecureBytes storedPkcs8(Location location, const std::string& container) {
    sqlite3* db = nullptr;
    common::SecureBytes bytes;
    sqlite3_stmt* row = nullptr;
    if (sqlite3_open_v2(softcapi::keystorePath(location).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "SELECT k.pkcs8 FROM container_keys k JOIN containers c ON c.id = "
                           "k.container_id WHERE c.name = ?",
                           -1, &row, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(row, 1, container.c_str(), -1, SQLITE_TRANSIENT) == SQLITE_OK &&
        sqlite3_step(row) == SQLITE_ROW)
        bytes = common::SecureBytes(sqlite3_column_blob(row, 0),
                                    static_cast<size_t>(sqlite3_column_bytes(row, 0)));
    sqlite3_finalize(row);
    sqlite3_close(db);
    return bytes;
}

const admin::ContainerEntry* entryNamed(const std::vector<admin::ContainerEntry>& entries,
                                        const std::string& name) {
    for (const admin::ContainerEntry& entry : entries)
        if (entry.name == name) return &entry;
    return nullptr;
}

class KeyCreation : public ::testing::Test {
protected:
    TempProfile profile_;
};

TEST_F(KeyCreation, KeysAreTheRowsOfTheAdministrationsContainers) {
    for (Location location : {Location::CurrentUser, Location::LocalMachine}) {
        const DWORD keySet = location == Location::LocalMachine ? CRYPT_MACHINE_KEYSET : 0;
        makeCspKey("Csp Made", keySet);
        makeCngKey(u"Cng Made", location == Location::LocalMachine ? NCRYPT_MACHINE_KEY_FLAG : 0);
        const std::vector<admin::ContainerEntry> entries = admin::containers(location);
        ASSERT_EQ(entries.size(), 2u);
        const admin::ContainerEntry* csp = entryNamed(entries, "Csp Made");
        const admin::ContainerEntry* cng = entryNamed(entries, "Cng Made");
        ASSERT_TRUE(csp != nullptr && cng != nullptr);
        EXPECT_EQ(csp->family, "RSA");
        EXPECT_EQ(csp->keySpecs, std::vector<DWORD>{AT_KEYEXCHANGE});
        EXPECT_TRUE(csp->pinProtected);
        EXPECT_EQ(cng->family, "KSP");
        EXPECT_EQ(cng->keySpecs, std::vector<DWORD>{0});
        EXPECT_FALSE(cng->pinProtected);
        // The administration deletes them as its own.
        admin::deleteContainer("Cng Made", "Microsoft Software Key Storage Provider",
                               admin::WhenBound::Refuse, location);
    }
}

TEST_F(KeyCreation, TheMachinesKeysAreSealedUnderItsSecretAndTheUsersAreNot) {
    makeCngKey(u"Sealed", NCRYPT_MACHINE_KEY_FLAG);
    makeCngKey(u"Plain", 0);
    EXPECT_TRUE(softcapi::decodePrivateKey(storedPkcs8(Location::CurrentUser, "Plain")));
    const common::SecureBytes sealed = storedPkcs8(Location::LocalMachine, "Sealed");
    ASSERT_FALSE(sealed.empty());
    EXPECT_FALSE(softcapi::decodePrivateKey(sealed));
    std::optional<common::SecureBytes> secret = softcapi::readMachineSecret();
    ASSERT_TRUE(secret.has_value());
    common::SecureBytes opened;
    const std::string name = "Sealed";
    ASSERT_TRUE(softcapi::unsealKey(*secret, {softcapi::KeyFamily::Ksp, name, 0}, sealed, opened));
    EXPECT_TRUE(softcapi::decodePrivateKey(opened));
}

}  // namespace
