#include "keyops/softcapi/keystore_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "keyops/softcapi/keystore_file.h"

namespace softcapi {

namespace {

const int64_t kNoVersion = -1;
// SQLite's file change counter: four bytes, big-endian, at offset 24 of the database header.
// Every commit in rollback-journal mode, by any process, changes it.
const off_t kChangeCounterOffset = 24;

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// The change counter as it is on disk now; a file too short to hold one (a new, empty file)
// has its own value, as no counter can be negative.
int64_t changeCounter(const FileDescriptor& file) {
    unsigned char bytes[4];
    if (pread(file.get(), bytes, sizeof(bytes), kChangeCounterOffset) != sizeof(bytes)) return -2;
    return (int64_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
}

// What is known of one key store file.
struct FileState {
    Connection watch;       // the connection that reads the file
    FileDescriptor header;  // where each open reads the change counter, without any lock
    dev_t device = 0;
    ino_t inode = 0;
    int64_t version = kNoVersion;
    std::map<std::string, StoreSnapshot*> snapshots;
    std::map<std::string, std::shared_ptr<const LoadedContainer>> containers;

    void forget() {
        for (auto& [key, snapshot] : snapshots) releaseSnapshot(snapshot);
        snapshots.clear();
        containers.clear();
    }
};

std::mutex gMutex;

std::map<std::string, FileState>& fileStates() {
    static auto* states = new std::map<std::string, FileState>();  // lives as long as the process
    return *states;
}

std::string foldAscii(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// Drops what was read when the file has been replaced or written since: the check every open
// makes costs a stat and a read of four bytes. A commit in flight changes the counter only once
// its pages are in place, and any change sends the next read through SQLite and its locks.
void refresh(FileState& state, const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0) {
        if (state.watch.isOpen() || state.version != kNoVersion) state.forget();
        state.watch = Connection();
        state.header = FileDescriptor();
        state.version = kNoVersion;
        return;
    }
    if (!state.watch.isOpen() || info.st_dev != state.device || info.st_ino != state.inode) {
        state.forget();
        state.watch = openKeystoreForReading(path);
        state.header = FileDescriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        state.device = info.st_dev;
        state.inode = info.st_ino;
        state.version = kNoVersion;
    }
    if (!state.watch.isOpen() || state.header.get() < 0) return;
    if (changeCounter(state.header) != state.version) state.forget();
}

// Reads under a read transaction, then makes sure what was read belongs to the version the
// caches are tagged with.
template <typename Read>
void readConsistently(FileState& state, Read read) {
    Transaction transaction(state.watch, Transaction::Kind::Read);
    bool ours = hasKeystoreSchema(state.watch);
    read(ours);
    // Under the read lock no commit can land: this counter belongs to what was just read.
    int64_t version = changeCounter(state.header);
    transaction.commit();
    if (version != state.version) {
        state.forget();
        state.version = version;
    }
}

StoreSnapshot* buildSnapshot(const std::string& storeName, bool readOnly,
                             std::vector<CertificateRecord> records) {
    auto* snapshot = new StoreSnapshot();
    snapshot->storeName = storeName;
    snapshot->readOnly = readOnly;
    snapshot->records = std::move(records);
    snapshot->contexts.resize(snapshot->records.size());
    snapshot->infos.resize(snapshot->records.size());
    for (size_t i = 0; i < snapshot->records.size(); ++i) {
        CertificateRecord& record = snapshot->records[i];
        CERT_CONTEXT& context = snapshot->contexts[i];
        describeCertificate(record.encoded, snapshot->infos[i], snapshot->objectIds);
        context.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        context.pbCertEncoded = record.encoded.data();
        context.cbCertEncoded = static_cast<DWORD>(record.encoded.size());
        context.pCertInfo = &snapshot->infos[i];
        context.hCertStore = &snapshot->handle;
    }
    return snapshot;
}

}  // namespace

bool placeOf(PCCERT_CONTEXT context, ContextPlace& place) {
    if (context == nullptr) return false;
    const auto* handle = static_cast<const StoreHandle*>(context->hCertStore);
    if (handle == nullptr || handle->magic != kStoreMagic) return false;
    StoreSnapshot* snapshot = handle->snapshot;
    size_t index = 0;
    if (handle != &snapshot->handle || !indexIn(*snapshot, context, index)) return false;
    place = {snapshot, index};
    return true;
}

bool indexIn(const StoreSnapshot& snapshot, PCCERT_CONTEXT context, size_t& index) {
    auto first = reinterpret_cast<uintptr_t>(snapshot.contexts.data());
    auto at = reinterpret_cast<uintptr_t>(context);
    if (at < first || at >= first + snapshot.contexts.size() * sizeof(CERT_CONTEXT)) return false;
    index = (at - first) / sizeof(CERT_CONTEXT);
    return true;
}

void retainSnapshot(StoreSnapshot* snapshot) {
    snapshot->references.fetch_add(1, std::memory_order_relaxed);
}

void releaseSnapshot(StoreSnapshot* snapshot) {
    if (snapshot->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete snapshot;
}

StoreSnapshot* openStoreSnapshot(const std::string& storeName, bool readOnly, DWORD& error) {
    std::string path = keystorePath();
    std::string key = foldAscii(storeName) + (readOnly ? "\n r" : "\n w");
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    try {
        refresh(state, path);
        auto cached = state.snapshots.find(key);
        if (cached == state.snapshots.end()) {
            std::vector<CertificateRecord> records;
            if (state.watch.isOpen()) {
                readConsistently(state, [&](bool ours) {
                    if (ours) records = loadCertificates(state.watch, storeName);
                });
            }
            cached = state.snapshots.emplace(key, buildSnapshot(storeName, readOnly,
                                                                std::move(records))).first;
        }
        retainSnapshot(cached->second);
        return cached->second;
    } catch (const DatabaseError& failure) {
        error = failure.code;
        return nullptr;
    }
}

std::shared_ptr<const LoadedContainer> findContainer(KeyFamily family, const std::string& name,
                                                     DWORD& error) {
    std::string path = keystorePath();
    std::string key = std::to_string(static_cast<int>(family)) + "\n" + foldAscii(name);
    std::lock_guard<std::mutex> lock(gMutex);
    FileState& state = fileStates()[path];
    try {
        refresh(state, path);
        auto cached = state.containers.find(key);
        if (cached != state.containers.end()) return cached->second;
        if (!state.watch.isOpen()) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        std::optional<ContainerRecord> record;
        readConsistently(state, [&](bool ours) {
            if (ours) record = loadContainer(state.watch, family, name);
        });
        if (!record) {
            error = NTE_BAD_KEYSET;
            return nullptr;
        }
        std::shared_ptr<const LoadedContainer> container = LoadedContainer::load(*record, error);
        if (container) state.containers.emplace(key, container);
        return container;
    } catch (const DatabaseError& failure) {
        error = failure.code;
        return nullptr;
    }
}

}  // namespace softcapi
