// The rows of the key store: system stores with their certificates, and key containers with
// their keys. Every function runs inside a transaction the caller holds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/secure_bytes.h"
#include "softcapi/keystore/key_binding.h"
#include "softcapi/keystore/sqlite_db.h"

namespace softcapi {

// Container namespaces: the RSA providers share one, the DSS providers another, and the key
// storage provider (CNG) has its own, whose keys (RSA or EC, one per container) are kept under
// key specification 0.
enum class KeyFamily { Rsa = 1, Dss = 2, Ksp = 3 };

struct CertificateRecord {
    int64_t id = 0;
    std::vector<BYTE> thumbprint;  // SHA-1 of the encoding
    std::vector<BYTE> encoded;
    std::optional<KeyBinding> binding;
};

struct StoredKey {
    std::vector<BYTE> publicKey;  // SubjectPublicKeyInfo DER
    common::SecureBytes pkcs8;            // PKCS#8, encrypted (PBES2) when the container has a PIN
};

struct ContainerRecord {
    int64_t id = 0;
    KeyFamily family = KeyFamily::Rsa;
    std::string name;
    bool pinProtected = false;
    std::map<DWORD, StoredKey> keys;  // by key specification
};

// The columns a certificate row is read by, for a query of `certificates c`, and the record
// such a query's row holds.
extern const char kCertificateColumns[];
CertificateRecord certificateFromRow(const Statement& row);

// Certificates of a store in insertion order; none when the store does not exist.
std::vector<CertificateRecord> loadCertificates(Connection& db, const std::string& store);
// The store's certificate with that SHA-1 thumbprint; none when it holds none.
std::optional<CertificateRecord> findCertificate(Connection& db, const std::string& store,
                                                 const std::vector<BYTE>& thumbprint);
std::vector<std::string> loadStoreNames(Connection& db);
// The store's row id; 0 when there is no store of that name.
int64_t findStoreId(Connection& db, const std::string& store);
// The name of the store with that row id; none when there is no such store.
std::optional<std::string> findStoreName(Connection& db, int64_t id);

// Adds the certificate unless the store holds it already; a binding given replaces the stored
// one. Creates the store when needed. True when a row was added.
bool putCertificate(Connection& db, const std::string& store, const std::vector<BYTE>& encoded,
                    const std::vector<BYTE>& thumbprint, const KeyBinding* binding);
void deleteCertificateRow(Connection& db, int64_t id);
// Binds the certificate of that row to a key container, or unbinds it for a null binding; false
// when there is no such row.
bool setCertificateBinding(Connection& db, int64_t id, const KeyBinding* binding);
// False when the store holds no certificate with that thumbprint.
bool deleteCertificateByThumbprint(Connection& db, const std::string& store,
                                   const std::vector<BYTE>& thumbprint);

std::optional<ContainerRecord> loadContainer(Connection& db, KeyFamily family,
                                             const std::string& name);
bool containerExists(Connection& db, KeyFamily family, const std::string& name);
void insertContainer(Connection& db, const ContainerRecord& container);
// Puts a key into an existing container, in place of one of the same specification, and marks
// the container PIN-protected or not; false when there is no container of that name.
bool putContainerKey(Connection& db, KeyFamily family, const std::string& name, DWORD keySpec,
                     const StoredKey& key, bool pinProtected);
// Deletes the container and its keys; false when there is none of that name.
bool deleteContainer(Connection& db, KeyFamily family, const std::string& name);

}  // namespace softcapi
