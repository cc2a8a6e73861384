// The software CryptoAPI's stores as the key store changes under them: what this process, another
// process and hand edits change is seen on the next open in every journal mode, at the cost of
// what changed; a file of the earlier schema is read as it is and upgraded by the first write;
// and what the process keeps stays bounded however many names it opens.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "softcapi/admin/support.h"
#include "softcapi/wincapi.h"
#include "support/failing_allocator.h"
#include "support/filler_certificates.h"
#include "support/temp_profile.h"

namespace {

using Bytes = std::vector<BYTE>;
namespace fs = std::filesystem;
namespace admin = softcapi::admin;

// "THUMBPRINT container" for each certificate, in the store's order; "-" for no key.
using Listing = std::vector<std::string>;

std::string hex(const BYTE* bytes, DWORD size) {
    return admin::toHex(Bytes(bytes, bytes + size));
}

std::string containerOf(PCCERT_CONTEXT context) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return "-";
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return "?";
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    std::string name;
    for (const WCHAR* c = info->pwszContainerName; *c != 0; ++c) name += static_cast<char>(*c);
    return name;
}

// The store as this process's CryptoAPI lists it, from the snapshots it keeps.
Listing listedThroughCryptoApi(const char* store, bool readOnly = false) {
    HCERTSTORE handle = readOnly ? CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                                 CERT_SYSTEM_STORE_CURRENT_USER |
                                                     CERT_STORE_READONLY_FLAG,
                                                 store)
                                 : CertOpenSystemStoreA(0, store);
    EXPECT_NE(handle, nullptr) << std::hex << GetLastError();
    Listing listed;
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(handle, context)) != nullptr;) {
        BYTE thumbprint[20];
        DWORD size = sizeof(thumbprint);
        EXPECT_TRUE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, thumbprint,
                                                      &size));
        listed.push_back(hex(thumbprint, size) + " " + containerOf(context));
    }
    CertCloseStore(handle, 0);
    return listed;
}

// The same read afresh from the file, through a connection of its own.
Listing listedInTheFile(const char* store) {
    Listing listed;
    for (const admin::CertificateEntry& entry : admin::storeContents(store))
        listed.push_back(entry.thumbprint + " " + (entry.binding ? entry.binding->container : "-"));
    return listed;
}

void expectListingsMatchTheFile(const std::vector<const char*>& stores) {
    for (const char* store : stores) {
        SCOPED_TRACE(store);
        Listing inFile = listedInTheFile(store);
        EXPECT_EQ(listedThroughCryptoApi(store), inFile);
        EXPECT_EQ(listedThroughCryptoApi(store, true), inFile);
    }
}

// SQL run on the key store by hand, as the sqlite3 shell runs it.
void runByHand(const TempProfile& profile, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(profile.keystorePath().c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(result, SQLITE_OK) << sql << ": " << (message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

// Runs `change` in a child process and waits for it.
void inAnotherProcess(const std::function<void()>& change) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            change();
        } catch (...) {
            _exit(2);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

bool addThroughCryptoApi(const char* store, const Bytes& certificate) {
    return CertAddEncodedCertificateToSystemStoreA(store, certificate.data(),
                                                   static_cast<DWORD>(certificate.size()));
}

// Deletes the certificate as the core does: found by a walk of the store, deleted by its context.
bool deleteThroughCryptoApi(const char* store, const Bytes& certificate) {
    HCERTSTORE handle = CertOpenSystemStoreA(0, store);
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(handle, context)) != nullptr) {
        if (context->cbCertEncoded == certificate.size() &&
            std::equal(certificate.begin(), certificate.end(), context->pbCertEncoded))
            break;
    }
    bool deleted = context != nullptr && CertDeleteCertificateFromStore(context);
    CertCloseStore(handle, 0);
    return deleted;
}

std::string thumbprintOf(const Bytes& certificate) {
    BYTE digest[SHA_DIGEST_LENGTH];
    SHA1(certificate.data(), certificate.size(), digest);
    return hex(digest, sizeof(digest));
}

// Allocations the next open of the store makes, counted.
int allocationsOfOpening(const char* store) {
    ArmedAllocations counting;
    HCERTSTORE handle = CertOpenSystemStoreA(0, store);
    int allocations = counting.count();
    CertCloseStore(handle, 0);
    return allocations;
}

class StoreCatchUp : public ::testing::Test {
protected:
    static const CertificateEncodings& certificates() {
        static const CertificateEncodings made = fillerCertificates(120);
        return made;
    }
    const Bytes& certificate(size_t i) const { return certificates()[i]; }

    TempProfile profile_;
};

// A store of 1,000 certificates: opening it again after a change must not read it again (a
// reading makes several allocations per certificate), whoever made the change.
TEST_F(StoreCatchUp, AChangeCostsWhatChangedNotTheStore) {
    const CertificateEncodings all = fillerCertificates(1003);
    admin::addCertificates("My", CertificateEncodings(all.begin(), all.begin() + 1000));
    EXPECT_GT(allocationsOfOpening("My"), 1000) << "the first open reads the store";
    struct Change {
        const char* who;
        std::function<void()> make;
    };
    const Change changes[] = {
        {"this process adds", [&] { ASSERT_TRUE(addThroughCryptoApi("My", all[1000])); }},
        {"this process deletes", [&] { ASSERT_TRUE(deleteThroughCryptoApi("My", all[5])); }},
        {"another process adds",
         [&] { inAnotherProcess([&] { admin::addCertificate("My", all[1001]); }); }},
        {"another process deletes",
         [&] { inAnotherProcess([&] { admin::deleteCertificate("My", thumbprintOf(all[999])); }); }},
        {"another process adds to another store",
         [&] { inAnotherProcess([&] { admin::addCertificate("Other", all[1002]); }); }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.who);
        change.make();
        EXPECT_LT(allocationsOfOpening("My"), 100);
        expectListingsMatchTheFile({"My"});
    }
}

// An open store and a context of it, held while the store changes, keep what they were opened
// with; the next open sees the change.
TEST_F(StoreCatchUp, AnOpenStoreKeepsItsContents) {
    admin::addCertificates("My", CertificateEncodings(certificates().begin(),
                                                       certificates().begin() + 3));
    HCERTSTORE held = CertOpenSystemStoreA(0, "My");
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(held, nullptr);
    ASSERT_NE(first, nullptr);
    inAnotherProcess([&] { admin::deleteCertificate("My", thumbprintOf(certificate(0))); });
    ASSERT_TRUE(addThroughCryptoApi("My", certificate(3)));
    expectListingsMatchTheFile({"My"});
    EXPECT_EQ(listedThroughCryptoApi("My").size(), 3u);

    EXPECT_EQ(hex(first->pbCertEncoded, first->cbCertEncoded),
              hex(certificate(0).data(), static_cast<DWORD>(certificate(0).size())));
    EXPECT_EQ(containerOf(first), "-");
    size_t seen = 1;
    for (PCCERT_CONTEXT context = first; (context = CertEnumCertificatesInStore(held, context));)
        ++seen;
    EXPECT_EQ(seen, 3u);
    EXPECT_TRUE(CertCloseStore(held, 0));
}

// Adds and deletes in a random order, through the CryptoAPI and the administration, here and in
// other processes, many of them to the same store in a row (so that removed places pile up and
// are closed): after each, both views of each store list exactly what the file holds.
TEST_F(StoreCatchUp, ListingsMatchTheFileAfterEveryKindOfChange) {
    const char* const stores[] = {"My", "CA"};
    std::mt19937 random(20261209);
    std::vector<std::vector<size_t>> held(std::size(stores));
    for (int step = 0; step < 120; ++step) {
        size_t s = random() % std::size(stores);
        const char* store = stores[s];
        bool add = held[s].size() < 3 || (held[s].size() < 40 && random() % 2 == 0);
        size_t which = add ? random() % 100 : held[s][random() % held[s].size()];
        const Bytes& chosen = certificate(which);
        SCOPED_TRACE(std::to_string(step) + (add ? " add " : " delete ") + store);
        switch (random() % 3) {
            case 0:
                if (add)
                    addThroughCryptoApi(store, chosen);
                else
                    ASSERT_TRUE(deleteThroughCryptoApi(store, chosen));
                break;
            case 1:
                if (add)
                    admin::addCertificate(store, chosen);
                else
                    admin::deleteCertificate(store, thumbprintOf(chosen));
                break;
            default:
                inAnotherProcess([&] {
                    if (add)
                        admin::addCertificate(store, chosen);
                    else
                        admin::deleteCertificate(store, thumbprintOf(chosen));
                });
        }
        if (add && std::find(held[s].begin(), held[s].end(), which) == held[s].end())
            held[s].push_back(which);
        if (!add) held[s].erase(std::find(held[s].begin(), held[s].end(), which));
        expectListingsMatchTheFile({stores[0], stores[1]});
    }
}

// The key store put in another journal mode by hand, as `sqlite3 keystore.db 'PRAGMA
// journal_mode=WAL'` puts it, while this process has it open: changes by another process and
// by this one are seen in each. (SQLite lets no one leave WAL mode while others have the file
// open, this process included.)
TEST_F(StoreCatchUp, ChangesAreSeenInEveryJournalMode) {
    admin::addCertificate("My", certificate(0));
    for (const char* mode : {"DELETE", "TRUNCATE", "PERSIST", "WAL"}) {
        SCOPED_TRACE(mode);
        expectListingsMatchTheFile({"My"});
        runByHand(profile_, std::string("PRAGMA journal_mode = ") + mode);
        inAnotherProcess([&] { admin::addCertificate("My", certificate(1)); });
        expectListingsMatchTheFile({"My"});
        inAnotherProcess([&] { admin::deleteCertificate("My", thumbprintOf(certificate(1))); });
        expectListingsMatchTheFile({"My"});
        ASSERT_TRUE(addThroughCryptoApi("My", certificate(2)));
        expectListingsMatchTheFile({"My"});
        ASSERT_TRUE(deleteThroughCryptoApi("My", certificate(2)));
        EXPECT_EQ(listedThroughCryptoApi("My").size(), 1u);
        expectListingsMatchTheFile({"My"});
    }
}

// Edits made by hand with SQLite, a history damaged by hand among them: whatever the file holds
// afterwards is what the stores list and what the containers give.
TEST_F(StoreCatchUp, HandEditsAreSeen) {
    admin::IdentityOptions options;
    options.subject = "CN=Edited";
    options.keyType = admin::KeyType::Rsa1024;
    options.placement.container = "edited";
    admin::Identity identity = admin::createIdentity(options);
    admin::addCertificates("My", CertificateEncodings(certificates().begin(),
                                                       certificates().begin() + 6));
    admin::addCertificates("Other", CertificateEncodings(certificates().begin() + 10,
                                                          certificates().begin() + 14));
    const std::vector<const char*> stores = {"My", "Other", "Renamed"};
    const char* const edits[] = {
        "DELETE FROM certificates WHERE id = (SELECT max(id) FROM certificates)",
        "UPDATE certificates SET container = 'rebound' WHERE container = 'edited'",
        // The first certificate of My goes between those of Other.
        "UPDATE certificates SET store_id = (SELECT id FROM stores WHERE name = 'Other') "
        "WHERE id = (SELECT min(id) FROM certificates WHERE store_id = "
        "(SELECT id FROM stores WHERE name = 'My'))",
        "UPDATE stores SET name = 'Renamed' WHERE name = 'Other'",
        // Without its trigger the history no longer knows of deletions: it is not believed.
        "DROP TRIGGER certificate_removed; DELETE FROM certificates WHERE id = "
        "(SELECT min(id) FROM certificates)",
        "INSERT INTO certificates(store_id, thumbprint, encoded) SELECT store_id, x'00', "
        "encoded FROM certificates LIMIT 1",
    };
    for (const char* edit : edits) {
        SCOPED_TRACE(edit);
        expectListingsMatchTheFile(stores);
        runByHand(profile_, edit);
        expectListingsMatchTheFile(stores);
        // The next write lays the history down whole again.
        ASSERT_TRUE(addThroughCryptoApi("Scratch", certificate(20)));
        ASSERT_TRUE(deleteThroughCryptoApi("Scratch", certificate(20)));
        expectListingsMatchTheFile(stores);
    }
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, "edited", identity.binding.provider.c_str(),
                                     identity.binding.providerType, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    runByHand(profile_, "DELETE FROM containers WHERE name = 'edited'");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CryptAcquireContextA(&provider, "edited", identity.binding.provider.c_str(),
                                      identity.binding.providerType, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string sqlBlob(const Bytes& bytes) {
    return "x'" + hex(bytes.data(), static_cast<DWORD>(bytes.size())) + "'";
}

// A key store file as the earlier version of the library wrote it, without a history (the fuzz
// corpus keeps one): read as it is and never written by reading, upgraded by the first write,
// and what a writer of the earlier version changes (plain SQL) is seen before and after.
TEST(KeystoreUpgrade, AFileOfTheEarlierSchemaIsReadAsItIsAndUpgradedByTheFirstWrite) {
    TempProfile profile;
    fs::create_directories(fs::path(profile.keystorePath()).parent_path());
    fs::copy_file(QDIE_EARLIER_KEYSTORE, profile.keystorePath());
    const Bytes earlier = readFile(profile.keystorePath());
    const std::vector<const char*> stores = {"My", "CA"};
    expectListingsMatchTheFile(stores);
    EXPECT_EQ(listedThroughCryptoApi("My").size(), 4u);
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, "fuzz-rsa",
                                     "Microsoft Enhanced RSA and AES Cryptographic Provider",
                                     PROV_RSA_AES, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_EQ(readFile(profile.keystorePath()), earlier);

    const CertificateEncodings certificates = fillerCertificates(3);
    runByHand(profile, "INSERT INTO certificates(store_id, thumbprint, encoded) SELECT id, " +
                           sqlBlob(Bytes(20, 1)) + ", " + sqlBlob(certificates[0]) +
                           " FROM stores WHERE name = 'CA'");
    expectListingsMatchTheFile(stores);

    ASSERT_TRUE(addThroughCryptoApi("CA", certificates[1]));
    expectListingsMatchTheFile(stores);
    runByHand(profile, "DELETE FROM certificates WHERE thumbprint = " + sqlBlob(Bytes(20, 1)));
    expectListingsMatchTheFile(stores);
    EXPECT_EQ(listedThroughCryptoApi("CA").size(), 2u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(profile.keystorePath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT (SELECT user_version FROM pragma_user_version), "
                                     "(SELECT count(*) FROM change_mark)",
                                 -1, &query, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(query, 0), 1) << "readers of the earlier version read it still";
    EXPECT_EQ(sqlite3_column_int(query, 1), 1) << "the history is there";
    sqlite3_finalize(query);
    sqlite3_close(db);
}

// Every distinct store name opened used to leave a snapshot behind until the key store changed
// (300,000 names took 280 MB): ten times the names keep no more.
TEST(StoreCache, OpeningManyNamesKeepsWhatItHoldsBounded) {
    TempProfile profile;
    admin::addCertificates("My", fillerCertificates(1));
    auto openNames = [](int from, int to) {
        ArmedAllocations counting;
        for (int i = from; i < to; ++i)
            EXPECT_TRUE(CertCloseStore(CertOpenSystemStoreA(0, ("N" + std::to_string(i)).c_str()), 0));
    };
    const long start = ArmedAllocations::outstanding();
    openNames(0, 300);
    const long after300 = ArmedAllocations::outstanding() - start;
    openNames(300, 3000);
    const long after3000 = ArmedAllocations::outstanding() - start;
    EXPECT_GT(after300, 0);
    EXPECT_LE(after3000, after300);
}

}  // namespace
