// The changes the crash-safety test makes to the software key store, one line of a plan each:
// how a child process performs one, and what one does to the key store's rows once it has
// completed. The rows are read with SQLite alone, not through the code under test.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "keyops/capi.h"

enum class ChangeKind {
    AddThroughCryptoApi,     // the core's addCertificate, as Java adds one
    AddThroughAdmin,         // softcapi::admin::addCertificate, as qdie-keystore adds one
    DeleteThroughCryptoApi,  // the core's deleteCertificate: enumeration and deletion
    DeleteThroughAdmin,      // softcapi::admin::deleteCertificate, by thumbprint
    ImportIdentity,          // a PKCS#12 file into a new container, its certificate into "My"
    DeleteContainer,
};

struct Change {
    ChangeKind kind = ChangeKind::AddThroughAdmin;
    std::string store;      // certificate changes
    size_t identity = 0;    // certificate changes and imports: which prepared identity
    std::string container;  // imports and container deletions
};

std::string formatChange(const Change& change);
// Throws std::runtime_error for a line formatChange did not make.
Change parseChange(const std::string& line);

// A key and its certificate, made once by the parent and used by every child.
struct PreparedIdentity {
    std::vector<BYTE> pkcs12;  // under kIdentityPassword
    std::vector<BYTE> certificate;
    std::string thumbprint;  // SHA-1, upper-case hexadecimal
};
extern const char kIdentityPassword[];

std::vector<PreparedIdentity> prepareIdentities(size_t count);
void saveIdentities(const std::vector<PreparedIdentity>& identities, const std::string& folder);
std::vector<PreparedIdentity> loadIdentities(const std::string& folder, size_t count);

// Performs the change in this process; a refusal (a certificate that is not there) is an
// outcome like any other.
void performChange(const Change& change, const std::vector<PreparedIdentity>& identities);

// The key store as one text per row: "certificate|store|thumbprint|container" ("-" when the
// certificate has no key) and "container|family|name|keys", plus a row for any key or
// certificate left without its container or store.
using KeystoreRows = std::set<std::string>;

KeystoreRows applyChange(const KeystoreRows& rows, const Change& change,
                         const std::vector<PreparedIdentity>& identities);

// Opens the file with SQLite, runs PRAGMA integrity_check and reads the rows. Throws
// std::runtime_error when the file does not open, is not intact or cannot be read.
KeystoreRows readKeystoreRows(const std::string& path);
