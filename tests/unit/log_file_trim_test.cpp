// The size limit of the log file: over 524,288 bytes it is deleted, at that size it stays.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "diagnostics/log.h"
#include "support/host.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

constexpr uint64_t kLimit = 524288;

void writeFileOfSize(const std::string& path, uint64_t size) {
    std::ofstream(path, std::ios::binary) << std::string(16, 'L');
    std::filesystem::resize_file(path, size);
}

TEST(LogFileTrim, FileOverTheLimitIsDeletedAndOneAtTheLimitStays) {
    for (uint64_t size : {kLimit - 1, kLimit, kLimit + 1}) {
        SCOPED_TRACE(size);
        TempProfile profile;
        writeFileOfSize(profile.logPath(), size);
        trimLogFile();
        if (size > kLimit) {
            EXPECT_FALSE(fileExists(profile.logPath()));
        } else {
            ASSERT_TRUE(fileExists(profile.logPath()));
            EXPECT_EQ(std::filesystem::file_size(profile.logPath()), size);
        }
    }
}

TEST(LogFileTrim, NextLineAfterADeletionStartsAFreshFile) {
    TempProfile profile;
    writeFileOfSize(profile.logPath(), kLimit + 1);
    trimLogFile();
    writeLog("Sign start", LogSink());
    const std::string text = profile.readLog();
    const std::string lastWords = std::string(" Sign start") + kTextLineEnd;
    EXPECT_EQ(text.size(), strlen("03/05/24 14:07:09 -") + lastWords.size());
    EXPECT_EQ(text.substr(text.size() - lastWords.size()), lastWords);
}

// The low 32 bits of 4 GiB + 1 are 1: measured by them alone, such a file would never go.
TEST(LogFileTrim, FileBeyond4GiBIsDeleted) {
    TempProfile profile;
    writeFileOfSize(profile.logPath(), (uint64_t{1} << 32) + 1);  // sparse: costs no disk
    trimLogFile();
    EXPECT_FALSE(fileExists(profile.logPath()));
}

TEST(LogFileTrim, MissingFileIsNotCreated) {
    TempProfile profile;
    trimLogFile();
    EXPECT_FALSE(fileExists(profile.logPath()));
    EXPECT_TRUE(fileExists(logFolderOf(profile.folder())));
}

}  // namespace
