#include "support/keystore_caches.h"

#include <cstdio>
#include <filesystem>

#include "softcapi/keystore/keystore_file.h"
#include "softcapi/wincapi.h"

void forgetKeystoreCaches() {
    const std::string path = softcapi::keystorePath();
    const std::string copy = path + ".copy";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    std::rename(copy.c_str(), path.c_str());
    CertCloseStore(CertOpenSystemStoreA(0, "CacheScratch"), 0);
}
