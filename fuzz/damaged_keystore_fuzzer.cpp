// The key store file itself is the input: a damaged, foreign or hand-edited database. Every call
// that reads it (stores opened and enumerated, properties read, containers acquired, signing and
// decryption through the core, the administration API's listings) fails cleanly or succeeds, and
// none of them changes the file or leaves a journal. (A file in WAL mode gets the -wal and -shm
// files every SQLite reader of one makes; the -wal must stay empty.)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_check.h"
#include "keyops/decrypt.h"
#include "keyops/sign.h"
#include "softcapi/admin/admin.h"
#include "keyops/system_stores.h"
#include "store_walk.h"
#include "support/temp_profile.h"

using namespace common;
using namespace keyops;

namespace {

using Bytes = std::vector<BYTE>;

// Stores always looked at, besides those the file names; the seeds use these.
const char* const kKnownStores[] = {"My", "CA"};
const size_t kStoresLooked = 6;
const size_t kBindingsTried = 3;
const size_t kCertificatesUsed = 2;

// The containers the seed key store holds (make_seeds.sh), by provider.
struct KnownContainer {
    const char* name;
    const char* provider;
    DWORD type;
    DWORD keySpec;
};
const KnownContainer kKnownContainers[] = {
    {"fuzz-rsa", "Microsoft Enhanced RSA and AES Cryptographic Provider", PROV_RSA_AES,
     AT_KEYEXCHANGE},
    {"fuzz-dsa", "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", PROV_DSS_DH,
     AT_SIGNATURE},
};

TempProfile& profile() {
    // The log is on, so that names read from the file also go through it.
    static TempProfile scratch(TempProfile::LogFolder::Present);
    return scratch;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file whole, as a new inode, so that nothing read from the previous one is reused.
void placeKeystore(const uint8_t* data, size_t size) {
    const std::string path = profile().keystorePath();
    const std::string incoming = path + ".incoming";
    std::ofstream(incoming, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    require(std::rename(incoming.c_str(), path.c_str()) == 0, "the input is in place");
}

void tryContainer(const std::string& container, const std::string& provider, DWORD type,
                  DWORD keySpec) {
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextA(&handle, container.c_str(), provider.c_str(), type, 0)) return;
    HCRYPTKEY key = 0;
    if (CryptGetUserKey(handle, keySpec, &key))
        require(CryptDestroyKey(key) != FALSE, "a key is destroyed");
    require(CryptReleaseContext(handle, 0) != FALSE, "an acquired container is released");
}

std::vector<std::string> storesToLook() {
    std::vector<std::string> names(std::begin(kKnownStores), std::end(kKnownStores));
    try {
        for (std::string& name : softcapi::admin::storeNames()) {
            if (names.size() == kStoresLooked) break;
            names.push_back(std::move(name));
        }
    } catch (const softcapi::admin::AdminError&) {
    }
    return names;
}

void lookAtStore(const std::string& name) {
    size_t tried = 0;
    for (const WalkedCertificate& certificate : walkStore(name)) {
        if (!certificate.binding || tried++ == kBindingsTried) continue;
        tryContainer(certificate.binding->container, certificate.binding->provider,
                     certificate.binding->providerType, certificate.binding->keySpec);
    }
    try {
        softcapi::admin::storeContents(name);
    } catch (const softcapi::admin::AdminError&) {
    }
}

// Signing and decryption through the core, with the certificates the personal store lists.
void useListedCertificates() {
    static const BYTE kData[] = {'f', 'u', 'z', 'z'};
    static const Bytes kCipherText(128, 0x5A);
    CallContext listing(diagnostics::LogSink::none());
    CertificateList listed = listCertificates(listing, "MY");
    if (listed.size() > kCertificatesUsed) listed.resize(kCertificatesUsed);
    for (const Bytes& certificate : listed) {
        for (const char* keyAlgorithm : {"RSA", "DSA"}) {
            std::vector<BYTE> signature;
            CallContext signing;
            signWithCertificate(signing, certificate.data(), static_cast<DWORD>(certificate.size()),
                                CALG_SHA1, keyAlgorithm, kData, sizeof(kData), signature, nullptr,
                                false);
        }
        SecureBytes plainText;
        CallContext decryption;
        decryptWithCertificate(decryption, certificate.data(), static_cast<DWORD>(certificate.size()),
                               kCipherText.data(), static_cast<DWORD>(kCipherText.size()),
                               plainText);
    }
}

// Besides the file, its folder may hold only what a reader of a WAL-mode file makes.
void requireNothingWritten(const uint8_t* data, size_t size) {
    const std::string path = profile().keystorePath();
    require(readFile(path) == Bytes(data, data + size), "reading never writes the key store");
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().string();
        if (name == path || name == path + "-shm") continue;
        require(name == path + "-wal" && std::filesystem::file_size(entry.path()) == 0,
                "reading leaves no journal and writes nothing to a write-ahead log");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::filesystem::create_directories(
        std::filesystem::path(profile().keystorePath()).parent_path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    placeKeystore(data, size);
    for (const std::string& name : storesToLook())
        lookAtStore(name);
    for (const KnownContainer& known : kKnownContainers)
        tryContainer(known.name, known.provider, known.type, known.keySpec);
    useListedCertificates();
    requireNothingWritten(data, size);
    return 0;
}
