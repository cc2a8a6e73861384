#include "softcapi/admin/support.h"

#include <cctype>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "softcapi/crypto/openssl_util.h"
#include "softcapi/shim/text_encoding.h"

namespace softcapi::admin {

std::string toHex(const std::vector<BYTE>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (BYTE b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0F];
    }
    return hex;
}

std::vector<BYTE> parseThumbprint(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw AdminError("thumbprint '" + text + "' is not hexadecimal");
        digits += c;
    }
    if (digits.size() != 40) throw AdminError("thumbprint '" + text + "' is not 40 hexadecimal digits");
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

void checkStoreName(const std::string& store) {
    if (!isValidStoreName(store))
        throw AdminError("store name '" + store +
                         "' is refused: 1 to 255 printable characters without '/' or '\\'");
}

std::string subjectOf(const std::vector<BYTE>& encoded) {
    OpenSslErrorScope scope;
    const unsigned char* in = encoded.data();
    X509Ptr certificate(d2i_X509(nullptr, &in, static_cast<long>(encoded.size())));
    if (!certificate) return "(unreadable)";
    OpenSslPtr<BIO> out(BIO_new(BIO_s_mem()));
    if (!out) return "(unreadable)";
    X509_NAME_print_ex(out.get(), X509_get_subject_name(certificate.get()), 0, XN_FLAG_RFC2253);
    char* text = nullptr;
    long size = BIO_get_mem_data(out.get(), &text);
    return std::string(text, static_cast<size_t>(size));
}

bool isKeystoreFile(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path keystore = keystorePath();
    const fs::path wanted = path;
    if (keystore.empty() || !wanted.has_filename()) return false;
    // The folders as the file system resolves them: links and "..", not the spelling, decide.
    std::error_code wantedError, keystoreError;
    const fs::path folder =
        fs::weakly_canonical(fs::absolute(wanted, wantedError).parent_path(), wantedError);
    const fs::path keystoreFolder = fs::weakly_canonical(keystore.parent_path(), keystoreError);
    if (wantedError || keystoreError || folder != keystoreFolder) return false;
    for (const char* companion : {"", "-journal", "-wal", "-shm"}) {
        if (wanted.filename() == keystore.filename().string() + companion) return true;
    }
    return false;
}

void reportDatabaseError(const DatabaseError& failure, const char* action) {
    if (failure.code == ERROR_FILE_CORRUPT)
        throw AdminError("the key store file " + keystorePath() + " is damaged or not a key store");
    throw AdminError("the key store file " + keystorePath() + " cannot be " + action);
}

}  // namespace softcapi::admin
