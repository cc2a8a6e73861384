// Share modes of the log file, which only Windows enforces: a viewer holding the log open does
// not stop a line from being written, and a log someone holds open is not deleted by the trim.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "diagnostics/log.h"
#include "support/log_lines.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

constexpr uintmax_t kOverTheLimit = 524288 + 1;

// Another process's handle on the log, sharing what `share` allows.
class OpenedElsewhere {
public:
    OpenedElsewhere(const std::string& path, DWORD access, DWORD share)
        : handle_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~OpenedElsewhere() {
        if (valid()) CloseHandle(handle_);
    }
    OpenedElsewhere(const OpenedElsewhere&) = delete;
    OpenedElsewhere& operator=(const OpenedElsewhere&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(LogFileSharing, ViewerThatSharesReadingAndWritingDoesNotStopALine) {
    TempProfile profile;
    writeLog("Sign start", LogSink());
    OpenedElsewhere viewer(profile.logPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(viewer.valid()) << GetLastError();
    writeLog("CertOpenStore success", LogSink());
    EXPECT_EQ(logMessages(profile.readLog()),
              (std::vector<std::string>{"Sign start", "CertOpenStore success"}));
}

TEST(LogFileSharing, LogHeldOpenElsewhereIsNotTrimmedWhateverItShares) {
    for (DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE},
                        DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
        SCOPED_TRACE(share);
        TempProfile profile;
        std::ofstream(profile.logPath(), std::ios::binary) << "L";
        std::filesystem::resize_file(profile.logPath(), kOverTheLimit);
        {
            OpenedElsewhere holder(profile.logPath(), GENERIC_READ, share);
            ASSERT_TRUE(holder.valid()) << GetLastError();
            trimLogFile();
            EXPECT_EQ(std::filesystem::file_size(profile.logPath()), kOverTheLimit);
        }
        // Not even marked for deletion while it was held; once let go, the next trim deletes it.
        ASSERT_TRUE(fileExists(profile.logPath()));
        trimLogFile();
        EXPECT_FALSE(fileExists(profile.logPath()));
    }
}

}  // namespace
