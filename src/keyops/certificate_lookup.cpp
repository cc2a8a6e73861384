#include "keyops/certificate_lookup.h"

#include <memory>
#include <new>

#include "diagnostics/log.h"
#include "keyops/certificate_walk.h"

namespace keyops {

using diagnostics::kStatusCertificateNotFound;
using diagnostics::kStatusKeyProvInfoSizeUnknown;
using diagnostics::kStatusKeyProvInfoUnreadable;
using diagnostics::kStatusStoreNotClosed;
using diagnostics::kStatusStoreNotOpened;
using diagnostics::writeLog;
using diagnostics::writeLogFormatted;

const char kCertificateFoundForSigning[] = "Certificate found.";
const char kCertificateFoundForDecryption[] = "Certificate found";

namespace {

const char kStoreOpenError[] = "CertOpenStore error: %x";
const char kStoreOpened[] = "CertOpenStore success";
const char kCertificateNotFound[] = "Certificate not found";
const char kPropertySizeError[] = "CertGetCertificateContextProperty# error: %x";
const char kPropertySizeRead[] = "CertGetCertificateContextProperty# success";
const char kPropertyError[] = "CertGetCertificateContextProperty error: %x";
const char kPropertyRead[] = "CertGetCertificateContextProperty success";
const char kStoreCloseError[] = "CertCloseStore error: %x";
const char kStoreClosed[] = "CertCloseStore success";

const char kOpenStore[] = "CertOpenStore";
const char kFindCertificate[] = "CertEnumCertificatesInStore";
const char kReadProperty[] = "CertGetCertificateContextProperty";
const char kCloseStore[] = "CertCloseStore";

const char16_t kPersonalStore[] = u"My";

// The binding the property names, or false with the Windows error when it cannot be read whole.
// A record too short for CRYPT_KEY_PROV_INFO, naming no container or provider, or naming one that
// 8 bits cannot spell, is as unreadable as one that cannot be read at all: signing with some
// other key is not an option.
bool readKeyBinding(const CryptoPlatform& platform, PCCERT_CONTEXT certificate, DWORD size,
                    KeySource source, KeyBinding& binding, DWORD& error) {
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (!platform.CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                    buffer.get(), &size)) {
        error = platform.GetLastError();
        return false;
    }
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.get());
    if (size < sizeof(CRYPT_KEY_PROV_INFO) || info->pwszContainerName == nullptr ||
        info->pwszProvName == nullptr) {
        error = static_cast<DWORD>(CRYPT_E_NOT_FOUND);
        return false;
    }
    // Narrowing keeps the low byte of each unit: a name beyond Latin-1 would turn into another
    // name (U+0142 into "B", U+0100 into the end of the string) and open another container.
    if (!isLatin1(info->pwszContainerName) || !isLatin1(info->pwszProvName)) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    try {
        binding.containerName = toNarrow(info->pwszContainerName);
        binding.providerName = toNarrow(info->pwszProvName);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    binding.providerType = info->dwProvType;
    if (source.keysetFromProperty) binding.keysetFlags = info->dwFlags & CRYPT_MACHINE_KEYSET;
    return true;
}

}  // namespace

std::string toNarrow(const WCHAR* wide) {
    std::string narrow;
    for (size_t i = 0; wide[i] != 0; ++i) narrow += static_cast<char>(wide[i] & 0xFF);
    return narrow;
}

bool isLatin1(const WCHAR* wide) {
    for (size_t i = 0; wide[i] != 0; ++i) {
        if (wide[i] > 0xFF) return false;
    }
    return true;
}

DWORD readKeyProvInfo(const CryptoPlatform& platform, PCCERT_CONTEXT certificate,
                      std::vector<BYTE>& record) {
    DWORD size = 0;
    if (!platform.CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                    nullptr, &size))
        return platform.GetLastError();
    try {
        record.resize(size);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!platform.CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID,
                                                    record.data(), &size))
        return platform.GetLastError();
    record.resize(size);
    return ERROR_SUCCESS;
}

std::basic_string<WCHAR> toWide(const std::string& narrow) {
    std::basic_string<WCHAR> wide;
    for (char c : narrow) wide += static_cast<WCHAR>(static_cast<unsigned char>(c));
    return wide;
}

bool findCertificateKey(CallContext& context, KeySource source, const BYTE* encoding,
                        DWORD length, const char* foundMessage, CertificateKey& found) {
    const CryptoPlatform& platform = context.platform;
    if (!runStep(context, {kOpenStore, kStoreOpened, kStoreOpenError, kStatusStoreNotOpened}, [&] {
            found.store.reset(platform.CertOpenStore(
                CERT_STORE_PROV_SYSTEM_W, 0, 0,
                systemStoreFlag(source.location) | CERT_STORE_READONLY_FLAG, kPersonalStore));
            return found.store.valid();
        }))
        return false;

    found.certificate = walkCertificates(found.store.get(), [&](PCCERT_CONTEXT candidate) {
        return hasEncoding(candidate, encoding, length);
    });
    if (!finishStep(context,
                    {kFindCertificate, foundMessage, kCertificateNotFound, kStatusCertificateNotFound},
                    found.certificate.valid(), ERROR_SUCCESS))
        return false;
    PCCERT_CONTEXT certificate = found.certificate.get();

    DWORD size = 0;
    if (!runStep(context,
                 {kReadProperty, kPropertySizeRead, kPropertySizeError, kStatusKeyProvInfoSizeUnknown},
                 [&] {
                     return platform.CertGetCertificateContextProperty(
                                certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) != FALSE;
                 }))
        return false;

    DWORD error = ERROR_SUCCESS;
    bool read = readKeyBinding(platform, certificate, size, source, found.binding, error);
    return finishStep(context,
                      {kReadProperty, kPropertyRead, kPropertyError, kStatusKeyProvInfoUnreadable},
                      read, error);
}

void closeLookupStore(CallContext& context, CertificateKey& found, StoreClosing closing) {
    found.certificate.reset();
    if (!found.store.valid()) return;
    if (closing == StoreClosing::Silent) {
        static_cast<void>(found.store.close());
        return;
    }
    if (found.store.close()) {
        writeLog(kStoreClosed, context.log);
        return;
    }
    DWORD error = context.platform.GetLastError();
    writeLogFormatted(kStoreCloseError, context.log, static_cast<unsigned>(error));
    context.outcome.recordUnlessFailed(kStatusStoreNotClosed, kCloseStore, error);
}

}  // namespace keyops
