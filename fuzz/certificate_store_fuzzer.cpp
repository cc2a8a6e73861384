// DER certificates from outside, added to a system store and read back every way the library
// reads one: through the CryptoAPI, the core's listing and the administration API. What is
// added lists back byte for byte and deletes again; what is refused is not stored.
#include <openssl/sha.h>

#include <cstdint>

#include "fuzz_check.h"
#include "softcapi/admin/admin.h"
#include "softcapi/admin/support.h"
#include "keyops/system_stores.h"
#include "store_walk.h"
#include "support/temp_profile.h"

using namespace keyops;

namespace {

const char kStore[] = "Fuzz";
const DWORD kUnsetError = 0xdeadbeef;

TempProfile& profile() {
    static TempProfile scratch(TempProfile::LogFolder::Absent);
    return scratch;
}

bool isParseError(DWORD error) {
    return error == static_cast<DWORD>(CRYPT_E_ASN1_EOD) ||
           error == static_cast<DWORD>(CRYPT_E_ASN1_BADTAG) ||
           error == static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
}

void requireListedAlone(const std::vector<BYTE>& certificate) {
    std::vector<BYTE> thumbprint(SHA_DIGEST_LENGTH);
    SHA1(certificate.data(), certificate.size(), thumbprint.data());

    std::vector<WalkedCertificate> walked = walkStore(kStore);
    require(walked.size() == 1 && walked[0].encoded == certificate &&
                walked[0].thumbprint == thumbprint && !walked[0].binding,
            "the store enumerates the certificate as added, with its SHA-1 and no key");
    CallContext context(diagnostics::LogSink::none());
    require(listCertificates(context, kStore) == CertificateList{certificate},
            "the core lists the certificate as added");
    std::vector<softcapi::admin::CertificateEntry> entries = softcapi::admin::storeContents(kStore);
    require(entries.size() == 1 && entries[0].encoded == certificate &&
                entries[0].thumbprint == softcapi::admin::toHex(thumbprint) &&
                !entries[0].subject.empty(),
            "the administration API lists the certificate with its thumbprint and a subject");
    require(softcapi::admin::exportCertificate(kStore, entries[0].thumbprint) == certificate,
            "the certificate exports as added");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    profile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> certificate(data, data + size);
    SetLastError(kUnsetError);
    if (!CertAddEncodedCertificateToSystemStoreA(kStore, data, static_cast<DWORD>(size))) {
        require(isParseError(GetLastError()), "a refused encoding fails as ASN.1");
        CallContext context(diagnostics::LogSink::none());
        require(walkStore(kStore).empty() && listCertificates(context, kStore).empty() &&
                    softcapi::admin::storeContents(kStore).empty(),
                "a refused encoding is not stored");
        return 0;
    }
    requireListedAlone(certificate);
    CallContext context(diagnostics::LogSink::none());
    deleteCertificate(context, kStore, data, static_cast<DWORD>(size));
    require(walkStore(kStore).empty(), "the certificate deletes again");
    return 0;
}
