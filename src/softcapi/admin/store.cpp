// Administration of system stores: listing, export, addition and deletion of certificates.
#include <openssl/x509.h>

#include "softcapi/admin/support.h"
#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/machine_roots.h"

namespace softcapi::admin {
namespace {

AdminError notInStore(const std::string& store, const std::string& thumbprint) {
    return AdminError("store '" + store + "' holds no certificate with thumbprint " + thumbprint);
}

}  // namespace

std::vector<CertificateEntry> storeContents(const std::string& store, Location location) {
    checkStoreName(store);
    std::vector<CertificateEntry> entries;
    readKeystore([&](Connection& db) {
        for (CertificateRecord& record : loadCertificates(db, store)) {
            CertificateEntry entry;
            entry.thumbprint = toHex(record.thumbprint);
            entry.subject = subjectOf(record.encoded);
            entry.binding = record.binding;
            entry.encoded = std::move(record.encoded);
            entries.push_back(std::move(entry));
        }
    }, location);
    return entries;
}

MachineRootsSummary machineRootsSummary() {
    std::shared_ptr<const MachineRoots> roots = machineRoots();
    return {roots->bundle, roots->entries.size(), roots->problem};
}

std::vector<std::string> storeNames(Location location) {
    std::vector<std::string> names;
    readKeystore([&](Connection& db) { names = loadStoreNames(db); }, location);
    return names;
}

std::vector<BYTE> exportCertificate(const std::string& store, const std::string& thumbprint,
                                    Location location) {
    std::vector<BYTE> wanted = parseThumbprint(thumbprint);
    checkStoreName(store);
    std::optional<CertificateRecord> found;
    readKeystore([&](Connection& db) { found = findCertificate(db, store, wanted); }, location);
    if (!found) throw notInStore(store, thumbprint);
    return std::move(found->encoded);
}

void addCertificate(const std::string& store, const std::vector<BYTE>& encoded,
                    Location location) {
    addCertificates(store, {encoded}, location);
}

void addCertificates(const std::string& store, const std::vector<std::vector<BYTE>>& encodings,
                     Location location) {
    checkStoreName(store);
    OpenSslErrorScope scope;
    for (const std::vector<BYTE>& encoded : encodings) {
        const unsigned char* in = encoded.data();
        X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(encoded.size())));
        if (!certificate || in != encoded.data() + encoded.size())
            throw AdminError("the file is not a DER-encoded X.509 certificate");
    }
    changeKeystore([&](Connection& db) {
        for (const std::vector<BYTE>& encoded : encodings)
            putCertificate(db, store, encoded, sha1Of(encoded.data(), encoded.size()), nullptr);
    }, location);
}

std::optional<KeyBinding> deleteCertificate(const std::string& store,
                                                const std::string& thumbprint, Location location) {
    // Looked up first, so that a certificate that is not there never opens the file for writing.
    exportCertificate(store, thumbprint, location);
    std::vector<BYTE> wanted = parseThumbprint(thumbprint);
    std::optional<KeyBinding> abandoned;
    changeKeystore([&](Connection& db) {
        std::optional<CertificateRecord> found = findCertificate(db, store, wanted);
        if (!found || !deleteCertificateByThumbprint(db, store, wanted))
            throw notInStore(store, thumbprint);
        if (found->binding && leavesContainerUnbound(db, *found->binding))
            abandoned = found->binding;
    }, location);
    return abandoned;
}

}  // namespace softcapi::admin
