#include "store_walk.h"

#include <cstring>

#include "fuzz_check.h"
#include "keyops/certificate_lookup.h"

using namespace keyops;

namespace {

const DWORD kUnsetError = 0xdeadbeef;

// The property by the two-call protocol: the size, a buffer one byte short, then the value.
// None when the certificate does not have it.
std::optional<std::vector<BYTE>> readProperty(PCCERT_CONTEXT context, DWORD id) {
    DWORD size = 0;
    SetLastError(kUnsetError);
    if (!CertGetCertificateContextProperty(context, id, nullptr, &size)) {
        require(GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND),
                "a property is missing or has a size");
        return std::nullopt;
    }
    // One spare byte keeps data() a real buffer when the value is empty.
    std::vector<BYTE> value(size + 1);
    if (size > 0) {
        DWORD shortSize = size - 1;
        SetLastError(kUnsetError);
        require(!CertGetCertificateContextProperty(context, id, value.data(), &shortSize) &&
                    GetLastError() == ERROR_MORE_DATA && shortSize == size,
                "a short buffer gets ERROR_MORE_DATA and the size needed");
    }
    DWORD filled = size;
    require(CertGetCertificateContextProperty(context, id, value.data(), &filled) != FALSE &&
                filled == size,
            "a buffer of the size asked for is filled");
    value.resize(size);
    return value;
}

// A name the record points at must lie inside the buffer and end there.
void requireNameInside(const std::vector<BYTE>& buffer, const WCHAR* name) {
    const BYTE* begin = buffer.data() + sizeof(CRYPT_KEY_PROV_INFO);
    const BYTE* end = buffer.data() + buffer.size();
    const BYTE* at = reinterpret_cast<const BYTE*>(name);
    require(at >= begin && at < end, "key-provider names point into the property's buffer");
    for (; at + sizeof(WCHAR) <= end; at += sizeof(WCHAR)) {
        WCHAR unit;
        std::memcpy(&unit, at, sizeof(unit));
        if (unit == 0) return;
    }
    require(false, "key-provider names end inside the property's buffer");
}

WalkedBinding bindingOf(const std::vector<BYTE>& buffer) {
    require(buffer.size() >= sizeof(CRYPT_KEY_PROV_INFO), "the key-provider record fits");
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    requireNameInside(buffer, info->pwszContainerName);
    requireNameInside(buffer, info->pwszProvName);
    return {toNarrow(info->pwszContainerName), toNarrow(info->pwszProvName), info->dwProvType,
            info->dwKeySpec};
}

}  // namespace

std::vector<WalkedCertificate> walkStore(const std::string& name) {
    std::vector<WalkedCertificate> walked;
    SetLastError(kUnsetError);
    HCERTSTORE store = CertOpenSystemStoreA(0, name.c_str());
    if (store == nullptr) {
        require(GetLastError() != kUnsetError && GetLastError() != ERROR_SUCCESS,
                "a store that does not open says why");
        return walked;
    }
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        WalkedCertificate certificate;
        certificate.encoded.assign(context->pbCertEncoded,
                                   context->pbCertEncoded + context->cbCertEncoded);
        std::optional<std::vector<BYTE>> thumbprint = readProperty(context, CERT_SHA1_HASH_PROP_ID);
        require(thumbprint.has_value(), "every certificate has a thumbprint");
        certificate.thumbprint = *thumbprint;
        if (std::optional<std::vector<BYTE>> info =
                readProperty(context, CERT_KEY_PROV_INFO_PROP_ID))
            certificate.binding = bindingOf(*info);
        PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context);
        require(copy == context, "a duplicate is the same context");
        require(CertFreeCertificateContext(copy) != FALSE, "a duplicate is freed");
        walked.push_back(std::move(certificate));
    }
    require(GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND),
            "enumeration ends with CRYPT_E_NOT_FOUND");
    require(CertCloseStore(store, 0) != FALSE, "an open store closes");
    return walked;
}
