// QDIEKeystore.dll and QDIEProvider.dll as files: what each exports and imports, and the version
// resource and manifest Windows reads from it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "windows/dll_image.h"

namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct Shipped {
    const DllImage& dll;
    size_t natives;
    const char* name;
    const char* description;
};

// Each shipped DLL with what it must be.
std::vector<Shipped> shippedDlls() {
    return {{keystoreDll(), 10, "QDIEKeystore", "Quendrilax Microsoft Keystore wrapper"},
            {providerDll(), 15, "QDIEProvider", "Quendrilax QDIE security provider"}};
}

TEST(DllImage, EachExportsItsOwnNativesByNameAndNothingElse) {
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        ASSERT_EQ(shipped.dll.problem(), "") << shipped.dll.path();
        ASSERT_EQ(shipped.dll.nativeNames().size(), shipped.natives);
        EXPECT_EQ(sorted(shipped.dll.exportedNames()), sorted(shipped.dll.nativeNames()));
        EXPECT_EQ(shipped.dll.exportedFunctionCount(), shipped.natives);
    }
}

// A DLL of the C++ runtime (libstdc++, libgcc, winpthread) would be missing on a user's machine.
TEST(DllImage, EachImportsOnlyDllsOfTheSystemFolder) {
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, sizeof(system));
    ASSERT_GT(length, 0u);
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        ASSERT_NE(shipped.dll.module(), nullptr) << shipped.dll.problem();
        const std::vector<std::string> modules = shipped.dll.importedModules();
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
}

// The version block of one DLL.
class VersionBlock {
public:
    explicit VersionBlock(const std::string& path) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        EXPECT_GT(size, 0u) << path << ": " << GetLastError();
        block_.resize(size);
        EXPECT_TRUE(size > 0 && GetFileVersionInfoA(path.c_str(), 0, size, block_.data()));
    }

    // The value at `subBlock`, or null with the test failed.
    const void* query(const std::string& subBlock, UINT* length) {
        void* value = nullptr;
        if (block_.empty() || !VerQueryValueA(block_.data(), subBlock.c_str(), &value, length)) {
            ADD_FAILURE() << "no " << subBlock;
            return nullptr;
        }
        return value;
    }

private:
    std::vector<BYTE> block_;
};

// The project's version, which CMake hands to this program and to the DLLs' version resource.
constexpr DWORD kVersionMS = (QDIE_VERSION_MAJOR << 16) | QDIE_VERSION_MINOR;
constexpr DWORD kVersionLS = (QDIE_VERSION_PATCH << 16) | QDIE_VERSION_TWEAK;

TEST(VersionResource, FileAndProductVersionAreTheProjectsForADll) {
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        VersionBlock version(shipped.dll.path());
        UINT length = 0;
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(version.query("\\", &length));
        ASSERT_NE(fixed, nullptr);
        ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, kVersionMS);
        EXPECT_EQ(fixed->dwFileVersionLS, kVersionLS);
        EXPECT_EQ(fixed->dwProductVersionMS, kVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, kVersionLS);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    }
}

TEST(VersionResource, FrenchUnicodeBlockIsTheOnlyTranslation) {
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        VersionBlock version(shipped.dll.path());
        UINT length = 0;
        const auto* translation =
            static_cast<const WORD*>(version.query("\\VarFileInfo\\Translation", &length));
        ASSERT_NE(translation, nullptr);
        ASSERT_EQ(length, 2 * sizeof(WORD));
        EXPECT_EQ(translation[0], 0x040c);
        EXPECT_EQ(translation[1], 1200);
    }
}

TEST(VersionResource, StringsNameTheLibrary) {
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        VersionBlock version(shipped.dll.path());
        const std::string fileName = std::string(shipped.name) + ".dll";
        const std::pair<const char*, const char*> kStrings[] = {
            {"FileDescription", shipped.description},
            {"FileVersion", QDIE_VERSION},
            {"ProductVersion", QDIE_VERSION},
            {"OriginalFilename", fileName.c_str()},
            {"InternalName", shipped.name},
            {"ProductName", "QDIEKeystore"},
            {"CompanyName", "Quendrilax"},
        };
        for (const auto& [name, expected] : kStrings) {
            SCOPED_TRACE(name);
            UINT length = 0;
            const auto* value = static_cast<const char*>(
                version.query(std::string("\\StringFileInfo\\040c04b0\\") + name, &length));
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(value, expected);
        }
    }
}

TEST(Manifest, IsResourceTwoAndRunsAsInvoker) {
    for (const Shipped& shipped : shippedDlls()) {
        SCOPED_TRACE(shipped.name);
        const HMODULE module = shipped.dll.module();
        ASSERT_NE(module, nullptr) << shipped.dll.problem();
        const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24));
        ASSERT_NE(resource, nullptr) << GetLastError();
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, resource)));
        ASSERT_NE(text, nullptr);
        const std::string manifest(text, SizeofResource(module, resource));
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
                  std::string::npos)
            << manifest;
    }
}

}  // namespace
