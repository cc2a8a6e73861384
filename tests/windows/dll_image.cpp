#include "windows/dll_image.h"

#include <memory>

namespace {

std::string& keystorePath() {
    static std::string path;
    return path;
}

std::string& providerPath() {
    static std::string path;
    return path;
}

const BYTE* imageBase(HMODULE module) { return reinterpret_cast<const BYTE*>(module); }

}  // namespace

DllImage::DllImage(const std::string& path) : path_(path) {
    module_ = LoadLibraryA(path.c_str());
    if (module_ == nullptr)
        problem_ = "LoadLibrary(" + path + ") failed with " + std::to_string(GetLastError());
}

DllImage::~DllImage() {
    if (module_ != nullptr) FreeLibrary(module_);
}

FARPROC DllImage::findExport(const char* name) {
    if (module_ == nullptr) return nullptr;
    FARPROC function = GetProcAddress(module_, name);
    if (function == nullptr) problem_ += std::string(problem_.empty() ? "" : ", ") + name + " not exported";
    return function;
}

const IMAGE_DATA_DIRECTORY& DllImage::directory(int entry) const {
    const BYTE* base = imageBase(module_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

std::vector<std::string> DllImage::exportedNames() const {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (entry.Size == 0) return names;
    const BYTE* base = imageBase(module_);
    const auto* table = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + table->AddressOfNames);
    for (DWORD i = 0; i < table->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameOffsets[i]));
    return names;
}

DWORD DllImage::exportedFunctionCount() const {
    const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (entry.Size == 0) return 0;
    return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(imageBase(module_) + entry.VirtualAddress)
        ->NumberOfFunctions;
}

std::vector<std::string> DllImage::importedModules() const {
    std::vector<std::string> modules;
    const IMAGE_DATA_DIRECTORY& entry = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (entry.Size == 0) return modules;
    const BYTE* base = imageBase(module_);
    for (const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
         import->Name != 0; ++import)
        modules.emplace_back(reinterpret_cast<const char*>(base + import->Name));
    return modules;
}

KeystoreDll::KeystoreDll(const std::string& path) : DllImage(path) {
    lookUp("Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signDataWithPassword",
           exports_.signDataWithPassword);
    lookUp("Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_sign", exports_.sign);
    lookUp("Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_signWithPassword",
           exports_.signWithPassword);
    lookUp("Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getError",
           exports_.getError);
    lookUp("Java_com_quendrilax_browser_keystore_provider_signature_BrowserSignature_getLastError",
           exports_.getLastError);
    lookUp("Java_com_quendrilax_browser_cipher_RSACipher_decryptWithPassword", exports_.decryptWithPassword);
    lookUp("Java_com_quendrilax_browser_cipher_RSACipher_decrypt", exports_.decrypt);
    lookUp("Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore",
           exports_.getCertificatesInIESystemStore);
    lookUp("Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore",
           exports_.addCertificateInIESystemStore);
    lookUp("Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore",
           exports_.deleteCertificateInIESystemStore);
}

ProviderDll::ProviderDll(const std::string& path) : DllImage(path) {
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newKeyHandle", exports_.newKeyHandle);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_freeKeyHandle", exports_.freeKeyHandle);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signHash", exports_.signHash);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decrypt", exports_.decrypt);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_rawRsa", exports_.rawRsa);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_signCng", exports_.signCng);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_decryptCng",
           exports_.decryptCng);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_listStore", exports_.listStore);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_addCertificate",
           exports_.addCertificate);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteCertificate",
           exports_.deleteCertificate);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newContainerKeyHandle",
           exports_.newContainerKeyHandle);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_installKeyEntry",
           exports_.installKeyEntry);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_generateKey",
           exports_.generateKey);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_bindCertificate",
           exports_.bindCertificate);
    lookUp("Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteKeyEntry",
           exports_.deleteKeyEntry);
}

void setDllPaths(const std::string& keystore, const std::string& provider) {
    keystorePath() = keystore;
    providerPath() = provider;
}

const KeystoreDll& keystoreDll() {
    static const auto dll = std::make_unique<KeystoreDll>(keystorePath());
    return *dll;
}

const ProviderDll& providerDll() {
    static const auto dll = std::make_unique<ProviderDll>(providerPath());
    return *dll;
}
