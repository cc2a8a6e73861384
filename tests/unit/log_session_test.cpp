// One call's log decided once: with the log folder absent nothing is written, formatted or
// forwarded for the whole call, even if the folder appears meanwhile; with it present every line
// of the call goes through one open file, trimmed as it is opened, and the call's lines are
// written together when it ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

struct Received {
    std::vector<std::string> lines;

    LogSink sink(LogSession& session) {
        return LogSink([](void* target, const char* text, size_t length) {
            static_cast<Received*>(target)->lines.emplace_back(text, length);
        }, this, &session);
    }
};

size_t openDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        static_cast<void>(entry);
        ++count;
    }
    return count;
}

TEST(LogSession, OffForTheWholeCallWhenTheFolderIsAbsentAtItsStart) {
    TempProfile profile(TempProfile::LogFolder::Absent);
    Received received;
    {
        LogSession session;
        LogSink sink = received.sink(session);
        EXPECT_FALSE(sink.logs());
        writeLog("first", sink);
        // The folder made in the middle of the call counts from the next call on.
        std::filesystem::create_directory(std::filesystem::path(profile.logPath()).parent_path());
        writeLogFormatted("second %d", sink, 2);
        trimLogFile(sink);
    }
    EXPECT_TRUE(received.lines.empty());
    EXPECT_FALSE(std::filesystem::exists(profile.logPath()));

    LogSession next;
    writeLog("third", received.sink(next));
    EXPECT_EQ(received.lines, std::vector<std::string>{"third"});
}

TEST(LogSession, EveryLineOfTheCallGoesThroughOneOpenFile) {
    TempProfile profile;
    Received received;
    const size_t before = openDescriptors();
    {
        LogSession session;
        LogSink sink = received.sink(session);
        EXPECT_TRUE(sink.logs());
        for (int line = 0; line < 50; ++line) {
            writeLogFormatted("line %d", sink, line);
            EXPECT_EQ(openDescriptors(), before + 1) << line;
        }
    }
    EXPECT_EQ(openDescriptors(), before);
    ASSERT_EQ(received.lines.size(), 50u);
    EXPECT_EQ(received.lines.back(), "line 49");
    const std::string written = profile.readLog();
    EXPECT_NE(written.find(" - line 0\n"), std::string::npos);
    EXPECT_NE(written.find(" - line 49\n"), std::string::npos);
}

TEST(LogSession, TheCallsLinesAreWrittenTogetherWhenItEnds) {
    TempProfile profile;
    Received received;
    {
        LogSession session;
        LogSink sink = received.sink(session);
        for (const char* line : {"opening", "signing", "finished"}) writeLog(line, sink);
        EXPECT_EQ(received.lines.size(), 3u) << "Java gets each line as it comes";
        EXPECT_EQ(profile.readLog().find("opening"), std::string::npos);
    }
    const std::string written = profile.readLog();
    const size_t opening = written.find(" - opening\n");
    const size_t signing = written.find(" - signing\n");
    const size_t finished = written.find(" - finished\n");
    ASSERT_NE(finished, std::string::npos);
    EXPECT_LT(opening, signing);
    EXPECT_LT(signing, finished);
}

TEST(LogSession, AFileGrownPastItsLimitIsTrimmedAsTheCallOpensIt) {
    TempProfile profile;
    {
        std::ofstream grown(profile.logPath(), std::ios::binary);
        grown << std::string(524289, 'x');
    }
    Received received;
    {
        LogSession session;
        LogSink sink = received.sink(session);
        trimLogFile(sink);
        writeLog("after the trim", sink);
    }
    const std::string written = profile.readLog();
    EXPECT_EQ(written.find('x'), std::string::npos);
    EXPECT_NE(written.find(" - after the trim\n"), std::string::npos);
    EXPECT_LT(written.size(), 100u);
}

}  // namespace
