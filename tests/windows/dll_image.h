// A shipped DLL as the Java virtual machine meets it: loaded with LoadLibrary (not linked), each
// native looked up by its exported name, with the types the generated headers declare, so a
// Java declaration that changes without this side fails to compile. QDIEKeystore.dll has the
// ten natives, QDIEProvider.dll the provider's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "com_quendrilax_browser_cipher_RSACipher.h"
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"
#include "com_quendrilax_browser_keystore_provider_signature_BrowserSignature.h"
#include "com_quendrilax_browser_keystore_provider_spi_ProviderNatives.h"

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

struct ProviderExports {
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newKeyHandle) newKeyHandle = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_freeKeyHandle) freeKeyHandle = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash) signHash = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt) decrypt = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_rawRsa) rawRsa = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng) signCng = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng) decryptCng = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore) listStore = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate)
        addCertificate = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate)
        deleteCertificate = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newContainerKeyHandle)
        newContainerKeyHandle = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_installKeyEntry)
        installKeyEntry = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_generateKey)
        generateKey = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_bindCertificate)
        bindCertificate = nullptr;
    decltype(&Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteKeyEntry)
        deleteKeyEntry = nullptr;
};

class DllImage {
public:
    DllImage(const DllImage&) = delete;
    DllImage& operator=(const DllImage&) = delete;
    virtual ~DllImage();

    const std::string& path() const { return path_; }
    HMODULE module() const { return module_; }
    // Why the DLL cannot be driven (not loaded, a native missing); empty when it can.
    const std::string& problem() const { return problem_; }

    // The names looked up, in the order of the Java classes.
    const std::vector<std::string>& nativeNames() const { return nativeNames_; }
    // The export directory of the loaded image: the names it gives, and how many functions it
    // exports in all, those exported by ordinal alone included.
    std::vector<std::string> exportedNames() const;
    DWORD exportedFunctionCount() const;
    // The DLLs its import directory names.
    std::vector<std::string> importedModules() const;

protected:
    explicit DllImage(const std::string& path);
    template <typename Function>
    void lookUp(const char* name, Function& function) {
        nativeNames_.push_back(name);
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(findExport(name)));
    }

private:
    FARPROC findExport(const char* name);
    const IMAGE_DATA_DIRECTORY& directory(int entry) const;

    std::string path_;
    HMODULE module_ = nullptr;
    std::string problem_;
    std::vector<std::string> nativeNames_;
};

class KeystoreDll : public DllImage {
public:
    explicit KeystoreDll(const std::string& path);
    const KeystoreExports& exports() const { return exports_; }

private:
    KeystoreExports exports_;
};

class ProviderDll : public DllImage {
public:
    explicit ProviderDll(const std::string& path);
    const ProviderExports& exports() const { return exports_; }

private:
    ProviderExports exports_;
};

// The DLLs named on the test program's command line, loaded on first use and kept for the run.
void setDllPaths(const std::string& keystore, const std::string& provider);
const KeystoreDll& keystoreDll();
const ProviderDll& providerDll();
