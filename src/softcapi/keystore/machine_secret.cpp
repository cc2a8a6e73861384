#include "softcapi/keystore/machine_secret.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "softcapi/keystore/file_descriptor.h"
#include "softcapi/keystore/keystore_file.h"

namespace softcapi {

namespace {

const char kSecretName[] = "keystore.secret";
const size_t kSecretSize = 32;

DWORD fileError(int error) {
    return error == EACCES || error == EPERM ? E_ACCESSDENIED : CRYPT_E_FILE_ERROR;
}

bool writeWhole(int fd, const common::SecureBytes& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t step = write(fd, bytes.data() + written, bytes.size() - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) return false;
        written += static_cast<size_t>(step);
    }
    return fsync(fd) == 0;
}

// A new file of the secret beside its place; a leftover of a maker that died is replaced.
void writeNewSecret(const std::string& path, const common::SecureBytes& secret) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor fd(open(path.c_str(), flags, 0600));
    if (fd.get() < 0 && errno == EEXIST && unlink(path.c_str()) == 0)
        fd = FileDescriptor(open(path.c_str(), flags, 0600));
    if (fd.get() < 0) throw DatabaseError(fileError(errno));
    if (fchmod(fd.get(), 0600) != 0 || !writeWhole(fd.get(), secret)) {
        unlink(path.c_str());
        throw DatabaseError(CRYPT_E_FILE_ERROR);
    }
}

}  // namespace

std::string machineSecretPath() {
    return machineStoreFolder() + "/" + kSecretName;
}

std::optional<common::SecureBytes> readMachineSecret() {
    FileDescriptor fd(
        open(machineSecretPath().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw DatabaseError(fileError(errno));
    }
    struct stat info;
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size != static_cast<off_t>(kSecretSize))
        throw DatabaseError(CRYPT_E_FILE_ERROR);
    common::SecureBytes secret(kSecretSize);
    size_t done = 0;
    while (done < kSecretSize) {
        ssize_t step = read(fd.get(), secret.data() + done, kSecretSize - done);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) throw DatabaseError(CRYPT_E_FILE_ERROR);
        done += static_cast<size_t>(step);
    }
    return secret;
}

common::SecureBytes machineSecretForSealing() {
    std::optional<common::SecureBytes> existing = readMachineSecret();
    if (existing) return std::move(*existing);
    common::SecureBytes secret(kSecretSize);
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1)
        throw DatabaseError(NTE_FAIL);
    const std::string path = machineSecretPath();
    const std::string making = path + ".new";
    writeNewSecret(making, secret);
    // link() never replaces: a secret that appeared meanwhile stays, and is the one used.
    const bool linked = link(making.c_str(), path.c_str()) == 0;
    const int linkError = errno;
    unlink(making.c_str());
    if (linked) return secret;
    if (linkError != EEXIST) throw DatabaseError(fileError(linkError));
    existing = readMachineSecret();
    if (!existing) throw DatabaseError(CRYPT_E_FILE_ERROR);
    return std::move(*existing);
}

}  // namespace softcapi
