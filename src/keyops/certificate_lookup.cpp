#include "keyops/certificate_lookup.h"

#include <memory>
#include <new>

#include "diagnostics/log.h"
#include "keyops/certificate_walk.h"

namespace keyops {

using diagnostics::kStatusCertificateNotFound;
using diagnostics::kStatusKeyProvInfoSizeUnknown;
using diagnostics::kStatusKeyProvInfoUnreadable;
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

const char16_t kPersonalStore[] = u"My";

bool isLatin1(const WCHAR* wide) {
    for (size_t i = 0; wide[i] != 0; ++i) {
        if (wide[i] > 0xFF) return false;
    }
    return true;
}

// The binding the property names, or false with the Windows error when it cannot be read whole.
// A record too short for CRYPT_KEY_PROV_INFO, naming no container or provider, or naming one that
// 8 bits cannot spell, is as unreadable as one that cannot be read at all: signing with some
// other key is not an option.
bool readKeyBinding(PCCERT_CONTEXT certificate, DWORD size, KeyBinding& binding, DWORD& error) {
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    const CryptoPlatform& platform = cryptoPlatform();
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
    return true;
}

}  // namespace

std::string toNarrow(const WCHAR* wide) {
    std::string narrow;
    for (size_t i = 0; wide[i] != 0; ++i) narrow += static_cast<char>(wide[i] & 0xFF);
    return narrow;
}

bool findCertificateKey(JNIEnv* env, const BYTE* encoding, DWORD length,
                        const char* foundMessage, CertificateKey& found, Outcome& outcome) {
    const CryptoPlatform& platform = cryptoPlatform();
    found.store.reset(platform.CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
        kPersonalStore));
    if (!found.store.valid()) {
        writeLogFormatted(kStoreOpenError, env, static_cast<unsigned>(platform.GetLastError()));
        outcome.record(kStatusStoreNotOpened);
        return false;
    }
    writeLog(kStoreOpened, env);

    found.certificate = walkCertificates(found.store.get(), [&](PCCERT_CONTEXT context) {
        return hasEncoding(context, encoding, length);
    });
    if (!found.certificate.valid()) {
        writeLog(kCertificateNotFound, env);
        outcome.record(kStatusCertificateNotFound);
        return false;
    }
    writeLog(foundMessage, env);
    PCCERT_CONTEXT context = found.certificate.get();

    DWORD size = 0;
    if (!platform.CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                                    &size)) {
        writeLogFormatted(kPropertySizeError, env, static_cast<unsigned>(platform.GetLastError()));
        outcome.record(kStatusKeyProvInfoSizeUnknown);
        return false;
    }
    writeLog(kPropertySizeRead, env);

    DWORD error = ERROR_SUCCESS;
    if (!readKeyBinding(context, size, found.binding, error)) {
        writeLogFormatted(kPropertyError, env, static_cast<unsigned>(error));
        outcome.record(kStatusKeyProvInfoUnreadable);
        return false;
    }
    writeLog(kPropertyRead, env);
    return true;
}

}  // namespace keyops
