#include "keystore_changes.h"

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "softcapi/admin/admin.h"
#include "softcapi/admin/support.h"
#include "keyops/system_stores.h"

using namespace keyops;

const char kIdentityPassword[] = "crash-safety";

namespace {

using Bytes = std::vector<BYTE>;

const char* const kKindNames[] = {"add-capi",     "add-admin", "delete-capi",
                                  "delete-admin", "import",    "delete-container"};
const char kPersonalStore[] = "My";
const char kNoKey[] = "-";
const int kRsaFamily = 1;

template <typename T, void (*Free)(T*)>
struct OpenSslFree {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509, X509_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslFree<PKCS12, PKCS12_free>>;

template <typename T>
Bytes encode(const T* object, int (*i2d)(const T*, unsigned char**)) {
    int size = i2d(object, nullptr);
    if (size <= 0) throw std::runtime_error("encoding failed");
    Bytes der(static_cast<size_t>(size));
    unsigned char* out = der.data();
    i2d(object, &out);
    return der;
}

std::string thumbprintOf(const Bytes& certificate) {
    Bytes thumbprint(SHA_DIGEST_LENGTH);
    SHA1(certificate.data(), certificate.size(), thumbprint.data());
    return softcapi::admin::toHex(thumbprint);
}

PreparedIdentity prepareIdentity(size_t index) {
    KeyPtr key(EVP_RSA_gen(1024));
    X509Ptr certificate(X509_new());
    if (!key || !certificate) throw std::runtime_error("no key for an identity");
    std::string subject = "Crash Safety " + std::to_string(index);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(subject.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), static_cast<long>(index) + 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
    X509_set_pubkey(certificate.get(), key.get());
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0)
        throw std::runtime_error("identity certificate not signed");
    Pkcs12Ptr pkcs12(PKCS12_create(kIdentityPassword, subject.c_str(), key.get(), certificate.get(),
                                   nullptr, 0, 0, 0, 0, 0));
    if (!pkcs12) throw std::runtime_error("identity PKCS#12 not made");
    PreparedIdentity identity;
    identity.pkcs12 = encode(pkcs12.get(), i2d_PKCS12);
    identity.certificate = encode(certificate.get(), i2d_X509);
    identity.thumbprint = thumbprintOf(identity.certificate);
    return identity;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::string certificateRowPrefix(const std::string& store, const std::string& thumbprint) {
    return "certificate|" + store + "|" + thumbprint + "|";
}

// The first row that starts with `prefix`, or rows.end().
KeystoreRows::const_iterator findRow(const KeystoreRows& rows, const std::string& prefix) {
    auto found = rows.lower_bound(prefix);
    return found != rows.end() && found->compare(0, prefix.size(), prefix) == 0 ? found
                                                                                : rows.end();
}

// Runs a query and hands each row's columns, as text, to `take`.
template <typename Take>
void query(sqlite3* db, const char* sql, Take take) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("cannot prepare ") + sql + ": " + sqlite3_errmsg(db));
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::string> columns;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const unsigned char* text = sqlite3_column_text(statement, i);
            columns.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        take(columns);
    }
    sqlite3_finalize(statement);
    if (result != SQLITE_DONE)
        throw std::runtime_error(std::string("cannot read ") + sql + ": " + sqlite3_errstr(result));
}

}  // namespace

std::string formatChange(const Change& change) {
    std::ostringstream line;
    line << kKindNames[static_cast<int>(change.kind)] << ' ' << change.identity << ' '
         << (change.store.empty() ? kNoKey : change.store) << ' '
         << (change.container.empty() ? kNoKey : change.container);
    return line.str();
}

Change parseChange(const std::string& line) {
    std::istringstream in(line);
    std::string kind;
    Change change;
    if (!(in >> kind >> change.identity >> change.store >> change.container))
        throw std::runtime_error("not a change: " + line);
    if (change.store == kNoKey) change.store.clear();
    if (change.container == kNoKey) change.container.clear();
    for (size_t i = 0; i < std::size(kKindNames); ++i) {
        if (kind == kKindNames[i]) {
            change.kind = static_cast<ChangeKind>(i);
            return change;
        }
    }
    throw std::runtime_error("not a change: " + line);
}

std::vector<PreparedIdentity> prepareIdentities(size_t count) {
    std::vector<PreparedIdentity> identities;
    for (size_t i = 0; i < count; ++i)
        identities.push_back(prepareIdentity(i));
    return identities;
}

void saveIdentities(const std::vector<PreparedIdentity>& identities, const std::string& folder) {
    for (size_t i = 0; i < identities.size(); ++i) {
        writeFile(folder + "/identity-" + std::to_string(i) + ".p12", identities[i].pkcs12);
        writeFile(folder + "/identity-" + std::to_string(i) + ".der", identities[i].certificate);
    }
}

std::vector<PreparedIdentity> loadIdentities(const std::string& folder, size_t count) {
    std::vector<PreparedIdentity> identities(count);
    for (size_t i = 0; i < count; ++i) {
        identities[i].pkcs12 = readFile(folder + "/identity-" + std::to_string(i) + ".p12");
        identities[i].certificate = readFile(folder + "/identity-" + std::to_string(i) + ".der");
        identities[i].thumbprint = thumbprintOf(identities[i].certificate);
    }
    return identities;
}

void performChange(const Change& change, const std::vector<PreparedIdentity>& identities) {
    const PreparedIdentity& identity = identities.at(change.identity);
    const Bytes& certificate = identity.certificate;
    const DWORD length = static_cast<DWORD>(certificate.size());
    keyops::CallContext context(diagnostics::LogSink::none());
    try {
        switch (change.kind) {
            case ChangeKind::AddThroughCryptoApi:
                addCertificate(context, change.store.c_str(), certificate.data(), length);
                break;
            case ChangeKind::AddThroughAdmin:
                softcapi::admin::addCertificate(change.store, certificate);
                break;
            case ChangeKind::DeleteThroughCryptoApi:
                deleteCertificate(context, change.store.c_str(), certificate.data(), length);
                break;
            case ChangeKind::DeleteThroughAdmin:
                softcapi::admin::deleteCertificate(change.store, identity.thumbprint);
                break;
            case ChangeKind::ImportIdentity: {
                softcapi::admin::KeyPlacement placement;
                placement.container = change.container;
                placement.store = kPersonalStore;
                softcapi::admin::importPkcs12(identity.pkcs12, kIdentityPassword, placement);
                break;
            }
            case ChangeKind::DeleteContainer:
                softcapi::admin::deleteContainer(change.container);
                break;
        }
    } catch (const softcapi::admin::AdminError&) {
        // Refused as a whole; what the key store holds says whether that was right.
    }
}

KeystoreRows applyChange(const KeystoreRows& rows, const Change& change,
                         const std::vector<PreparedIdentity>& identities) {
    KeystoreRows next = rows;
    const std::string& thumbprint = identities.at(change.identity).thumbprint;
    switch (change.kind) {
        case ChangeKind::AddThroughCryptoApi:
        case ChangeKind::AddThroughAdmin: {
            // A certificate the store holds already keeps its row, key included.
            std::string prefix = certificateRowPrefix(change.store, thumbprint);
            if (findRow(next, prefix) == next.end()) next.insert(prefix + kNoKey);
            break;
        }
        case ChangeKind::DeleteThroughCryptoApi:
        case ChangeKind::DeleteThroughAdmin: {
            auto found = findRow(next, certificateRowPrefix(change.store, thumbprint));
            if (found != next.end()) next.erase(found);
            break;
        }
        case ChangeKind::ImportIdentity: {
            std::string container =
                "container|" + std::to_string(kRsaFamily) + "|" + change.container + "|";
            if (findRow(next, container) != next.end()) break;  // the name is taken
            next.insert(container + "1");
            std::string prefix = certificateRowPrefix(kPersonalStore, thumbprint);
            auto found = findRow(next, prefix);
            if (found != next.end()) next.erase(found);
            next.insert(prefix + change.container);
            break;
        }
        case ChangeKind::DeleteContainer: {
            auto found = findRow(
                next, "container|" + std::to_string(kRsaFamily) + "|" + change.container + "|");
            if (found != next.end()) next.erase(found);
            break;
        }
    }
    return next;
}

KeystoreRows readKeystoreRows(const std::string& path) {
    sqlite3* db = nullptr;
    // Read-write, so that SQLite rolls back what a killed writer left in its journal.
    int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, sqlite3_close);
    if (opened != SQLITE_OK)
        throw std::runtime_error("the key store does not open: " +
                                 std::string(sqlite3_errstr(opened)));
    sqlite3_busy_timeout(db, 10000);
    std::string integrity;
    query(db, "PRAGMA integrity_check",
          [&](const std::vector<std::string>& row) { integrity += row[0]; });
    if (integrity != "ok") throw std::runtime_error("integrity_check: " + integrity);
    KeystoreRows rows;
    query(db,
          "SELECT s.name, hex(c.thumbprint), coalesce(c.container, '-') FROM certificates c "
          "JOIN stores s ON s.id = c.store_id",
          [&](const std::vector<std::string>& row) {
              rows.insert("certificate|" + row[0] + "|" + row[1] + "|" + row[2]);
          });
    query(db,
          "SELECT family, name, (SELECT count(*) FROM container_keys k "
          "WHERE k.container_id = containers.id) FROM containers",
          [&](const std::vector<std::string>& row) {
              rows.insert("container|" + row[0] + "|" + row[1] + "|" + row[2]);
          });
    query(db,
          "SELECT (SELECT count(*) FROM container_keys WHERE container_id NOT IN "
          "(SELECT id FROM containers)), (SELECT count(*) FROM certificates WHERE store_id NOT IN "
          "(SELECT id FROM stores))",
          [&](const std::vector<std::string>& row) {
              if (row[0] != "0") rows.insert("keys without a container|" + row[0]);
              if (row[1] != "0") rows.insert("certificates without a store|" + row[1]);
          });
    return rows;
}
