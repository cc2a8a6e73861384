// QDIEKeystore.dll as a file: what it exports and imports, and the version resource and manifest
// Windows reads from it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "windows/keystore_dll.h"

namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(DllImage, ExportsTheTenNativesByNameAndNothingElse) {
    const KeystoreDll& dll = keystoreDll();
    ASSERT_EQ(dll.problem(), "") << dll.path();
    ASSERT_EQ(dll.nativeNames().size(), 10u);
    EXPECT_EQ(sorted(dll.exportedNames()), sorted(dll.nativeNames()));
    EXPECT_EQ(dll.exportedFunctionCount(), 10u);
}

// A DLL of the C++ runtime (libstdc++, libgcc, winpthread) would be missing on a user's machine.
TEST(DllImage, ImportsOnlyDllsOfTheSystemFolder) {
    const KeystoreDll& dll = keystoreDll();
    ASSERT_NE(dll.module(), nullptr) << dll.problem();
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, sizeof(system));
    ASSERT_GT(length, 0u);
    const std::vector<std::string> modules = dll.importedModules();
    ASSERT_FALSE(modules.empty());
    for (const std::string& module : modules) {
        SCOPED_TRACE(module);
        const HMODULE loaded = GetModuleHandleA(module.c_str());
        ASSERT_NE(loaded, nullptr);
        char path[MAX_PATH];
        const DWORD pathLength = GetModuleFileNameA(loaded, path, sizeof(path));
        EXPECT_EQ(lowerCase(std::string(path, pathLength)),
                  lowerCase(std::string(system, length) + "\\" + module));
    }
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path_ << ": " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, block_.data()));
    }

    // The value at `subBlock`, or null with the test failed.
    const void* query(const std::string& subBlock, UINT* length) {
        void* value = nullptr;
        if (!VerQueryValueA(block_.data(), subBlock.c_str(), &value, length)) {
            ADD_FAILURE() << "no " << subBlock;
            return nullptr;
        }
        return value;
    }

    const std::string path_ = keystoreDll().path();
    std::vector<BYTE> block_;
};

TEST_F(VersionResource, FileAndProductVersionAre1_5_3_1ForADll) {
    UINT length = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\", &length));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010005u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010005u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00030001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionResource, FrenchUnicodeBlockIsTheOnlyTranslation) {
    UINT length = 0;
    const auto* translation = static_cast<const WORD*>(query("\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 2 * sizeof(WORD));
    EXPECT_EQ(translation[0], 0x040c);
    EXPECT_EQ(translation[1], 1200);
}

TEST_F(VersionResource, StringsNameTheWrapper) {
    const std::pair<const char*, const char*> kStrings[] = {
        {"FileDescription", "Quendrilax Microsoft Keystore wrapper"},
        {"FileVersion", "1.5.3.1"},
        {"ProductVersion", "1.5.3.1"},
        {"OriginalFilename", "QDIEKeystore.dll"},
        {"InternalName", "QDIEKeystore"},
        {"ProductName", "QDIEKeystore"},
        {"CompanyName", "Quendrilax"},
    };
    for (const auto& [name, expected] : kStrings) {
        SCOPED_TRACE(name);
        UINT length = 0;
        const auto* value =
            static_cast<const char*>(query(std::string("\\StringFileInfo\\040c04b0\\") + name, &length));
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, expected);
    }
}

TEST(Manifest, IsResourceTwoAndRunsAsInvoker) {
    const HMODULE module = keystoreDll().module();
    ASSERT_NE(module, nullptr) << keystoreDll().problem();
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr) << GetLastError();
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, SizeofResource(module, resource));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
}

}  // namespace
