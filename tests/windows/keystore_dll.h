// QDIEKeystore.dll as the Java virtual machine meets it: loaded with LoadLibrary (not linked),
// each of the ten natives looked up by its exported name, with the types the generated headers
// declare, so a Java declaration that changes without this side fails to compile.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com_quendrilax_browser_cipher_RSACipher.h"
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"

struct KeystoreExports {
    decltype(&Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword)
        signDataWithPassword = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_sign) sign = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signWithPassword)
        signWithPassword = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getError)
        getError = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getLastError)
        getLastError = nullptr;
    decltype(&Java_com_quendrilax_browser_cipher_RSACipher_decryptWithPassword) decryptWithPassword = nullptr;
    decltype(&Java_com_quendrilax_browser_cipher_RSACipher_decrypt) decrypt = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore)
        getCertificatesInIESystemStore = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore)
        addCertificateInIESystemStore = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore)
        deleteCertificateInIESystemStore = nullptr;
};

class KeystoreDll {
public:
    explicit KeystoreDll(const std::string& path);
    ~KeystoreDll();
    KeystoreDll(const KeystoreDll&) = delete;
    KeystoreDll& operator=(const KeystoreDll&) = delete;

    const std::string& path() const { return path_; }
    HMODULE module() const { return module_; }
    // Why the DLL cannot be driven (not loaded, a native missing); empty when it can.
    const std::string& problem() const { return problem_; }
    const KeystoreExports& exports() const { return exports_; }

    // The names looked up, in the order of the Java classes.
    const std::vector<std::string>& nativeNames() const { return nativeNames_; }
    // The export directory of the loaded image: the names it gives, and how many functions it
    // exports in all, those exported by ordinal alone included.
    std::vector<std::string> exportedNames() const;
    DWORD exportedFunctionCount() const;
    // The DLLs its import directory names.
    std::vector<std::string> importedModules() const;

private:
    template <typename Function>
    void lookUp(const char* name, Function& function);
    const IMAGE_DATA_DIRECTORY& directory(int entry) const;

    std::string path_;
    HMODULE module_ = nullptr;
    std::string problem_;
    KeystoreExports exports_;
    std::vector<std::string> nativeNames_;
};

// The DLL named on the test program's command line, loaded on first use and kept for the run.
void setKeystoreDllPath(const std::string& path);
const KeystoreDll& keystoreDll();
