#include "softcapi/admin/support.h"

#include <cctype>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "softcapi/crypto/openssl_util.h"
#include "softcapi/keystore/machine_secret.h"
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

namespace {

namespace fs = std::filesystem;

// The folder of `path` as the file system resolves it: links and "..", not the spelling, decide.
bool resolvedFolder(const fs::path& path, fs::path& folder) {
    std::error_code error;
    folder = fs::weakly_canonical(fs::absolute(path, error).parent_path(), error);
    return !error;
}

}  // namespace

bool isKeystoreFile(const std::string& path) {
    const fs::path wanted = path;
    fs::path folder;
    if (!wanted.has_filename() || !resolvedFolder(wanted, folder)) return false;
    for (Location location : {Location::CurrentUser, Location::LocalMachine}) {
        const fs::path keystore = keystorePath(location);
        fs::path keystoreFolder;
        if (keystore.empty() || !resolvedFolder(keystore, keystoreFolder) || folder != keystoreFolder)
            continue;
        for (const char* companion : {"", "-journal", "-wal", "-shm"}) {
            if (wanted.filename() == keystore.filename().string() + companion) return true;
        }
        if (location == Location::LocalMachine &&
            wanted.filename() == fs::path(machineSecretPath()).filename())
            return true;
    }
    return false;
}

void reportDatabaseError(const DatabaseError& failure, const char* action, Location location) {
    const std::string file = "the key store file " + keystorePath(location);
    if (failure.code == ERROR_FILE_CORRUPT)
        throw AdminError(file + " is damaged or not a key store");
    if (failure.code == static_cast<DWORD>(E_ACCESSDENIED))
        throw AdminError(file + " cannot be " + action + " by this user");
    throw AdminError(file + " cannot be " + action);
}

}  // namespace softcapi::admin
