#include "softcapi/keystore/machine_roots.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi {

namespace {

const char kBundleVariable[] = "QDIE_SYSTEM_ROOTS";
const char kDefaultBundle[] = "/etc/ssl/certs/ca-certificates.crt";
// Far beyond any system's trust (Debian's is about 200 KiB): a larger file is read as none.
const off_t kMaxBundleSize = 16 * 1024 * 1024;

// What says whether the bundle read last is the bundle now.
struct BundleIdentity {
    std::string path;
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};

    bool operator==(const BundleIdentity& other) const {
        return path == other.path && present == other.present && device == other.device &&
               inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

std::mutex gMutex;
std::shared_ptr<const MachineRoots> gRoots;
BundleIdentity gReadFrom;

std::string bundlePath() {
    const char* named = std::getenv(kBundleVariable);
    return named != nullptr && *named != '\0' ? named : kDefaultBundle;
}

BundleIdentity identityOf(const std::string& path, int& error) {
    BundleIdentity identity;
    identity.path = path;
    struct stat status;
    error = 0;
    if (stat(path.c_str(), &status) != 0) {
        error = errno;
        return identity;
    }
    identity.present = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = status.st_size;
    identity.modified = status.st_mtim;
    if (!S_ISREG(status.st_mode)) error = EINVAL;
    return identity;
}

// One block of a PEM file as OpenSSL reads it, freed however the reading ends.
struct PemBlock {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;

    PemBlock() = default;
    PemBlock(const PemBlock&) = delete;
    PemBlock& operator=(const PemBlock&) = delete;
    ~PemBlock() {
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
};

// Each CERTIFICATE block that is one whole certificate, in the bundle's order.
void readBundle(const BundleIdentity& identity, MachineRoots& roots) {
    OpenSslErrorScope scope;
    OpenSslPtr<BIO> bio(BIO_new_file(identity.path.c_str(), "r"));
    if (!bio) {
        roots.problem = "cannot be read";
        return;
    }
    while (true) {
        PemBlock block;
        if (PEM_read_bio(bio.get(), &block.name, &block.header, &block.data, &block.length) != 1)
            break;
        if (std::strcmp(block.name, "CERTIFICATE") != 0) continue;
        const unsigned char* in = block.data;
        X509Ptr certificate(d2i_X509(nullptr, &in, block.length));
        if (!certificate || in != block.data + block.length) continue;
        CertificateRecord record;
        record.encoded.assign(block.data, block.data + block.length);
        record.thumbprint = sha1Of(record.encoded.data(), record.encoded.size());
        roots.entries.push_back(makeEntry(std::move(record), *roots.objectIds));
    }
}

}  // namespace

std::shared_ptr<const MachineRoots> machineRoots() {
    const std::string path = bundlePath();
    int error = 0;
    const BundleIdentity identity = identityOf(path, error);
    std::lock_guard<std::mutex> lock(gMutex);
    if (gRoots && gReadFrom == identity) return gRoots;
    auto roots = std::make_shared<MachineRoots>();
    roots->bundle = path;
    roots->objectIds = std::make_shared<ObjectIdTexts>();
    if (error != 0)
        roots->problem = error == EINVAL ? "is not a regular file" : std::strerror(error);
    else if (identity.size > kMaxBundleSize)
        roots->problem = "is larger than 16 MiB";
    else
        readBundle(identity, *roots);
    gRoots = roots;
    gReadFrom = identity;
    return gRoots;
}

}  // namespace softcapi
