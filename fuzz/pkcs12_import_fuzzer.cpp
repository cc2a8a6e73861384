// PKCS#12 files from outside, imported as qdie-keystore import-pfx imports them. A file is
// refused with AdminError or imported whole: its certificate listed in the store, bound to a
// container that opens with the key it names.
#include <unistd.h>

#include <cstdint>

#include "fuzz_check.h"
#include "keyops/softcapi/admin.h"
#include "store_walk.h"
#include "support/temp_profile.h"

namespace {

// The seeds are made with this password (make_seeds.sh).
const char kPassword[] = "fuzz";
const char kStore[] = "Imported";
const char kContainer[] = "fuzz-import";

TempProfile& profile() {
    static TempProfile scratch(TempProfile::LogFolder::Absent);
    return scratch;
}

void requireImported(const softcapi::admin::Identity& identity) {
    std::vector<WalkedCertificate> walked = walkStore(kStore);
    require(walked.size() == 1 && walked[0].encoded == identity.certificate,
            "the imported certificate is the store's only one");
    require(walked[0].binding && walked[0].binding->container == kContainer &&
                walked[0].binding->provider == identity.binding.provider &&
                walked[0].binding->keySpec == identity.binding.keySpec,
            "the imported certificate is bound to its container");
    HCRYPTPROV provider = 0;
    require(CryptAcquireContextA(&provider, kContainer, identity.binding.provider.c_str(),
                                 identity.binding.providerType, 0) != FALSE,
            "the container of an import opens");
    HCRYPTKEY key = 0;
    require(CryptGetUserKey(provider, identity.binding.keySpec, &key) != FALSE,
            "the container of an import holds the key its certificate names");
    require(CryptDestroyKey(key) != FALSE && CryptReleaseContext(provider, 0) != FALSE,
            "the key and the container are released");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    profile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    softcapi::admin::KeyPlacement placement;
    placement.container = kContainer;
    placement.store = kStore;
    try {
        requireImported(softcapi::admin::importPkcs12(std::vector<BYTE>(data, data + size),
                                                      kPassword, placement));
    } catch (const softcapi::admin::AdminError&) {
        require(walkStore(kStore).empty(), "a refused file leaves nothing behind");
    }
    // Every input starts from an empty key store.
    unlink(profile().keystorePath().c_str());
    return 0;
}
