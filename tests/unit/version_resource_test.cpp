// The version resource and manifest QDIEKeystore.dll carries, read back as Windows reads them:
// from a DLL built beside this program with those resources and nothing else.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kProbeName[] = "qdie_resource_probe.dll";

std::string probePath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string program(path, length);
    return program.substr(0, program.find_last_of('\\') + 1) + kProbeName;
}

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
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

    const std::string path_ = probePath();
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
    HMODULE module = LoadLibraryExA(probePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr) << GetLastError();
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, SizeofResource(module, resource));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
    FreeLibrary(module);
}

}  // namespace
