// The log file: where it goes, what a line looks like, and what is written when.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/log_path.h"
#include "support/host.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t endLength = strlen(kTextLineEnd);
    size_t start = 0;
    for (size_t end = text.find(kTextLineEnd); end != std::string::npos;
         end = text.find(kTextLineEnd, start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + endLength;
    }
    EXPECT_EQ(start, text.size()) << "the file must end with a complete line";
    return lines;
}

// The message part of a line "MM/DD/YY HH:MM:SS - message"; fails the test on any other shape.
std::string messageOf(const std::string& line) {
    static const std::regex kShape(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d - (.*))");
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, kShape)) << "line: " << line;
    return match.size() > 1 ? match[1].str() : "";
}

std::string formatClock(time_t when, const char* format) {
    // No other thread reads the clock while the test formats it.
    const struct tm local = *localtime(&when);
    char text[32];
    strftime(text, sizeof(text), format, &local);
    return text;
}

TEST(LogFileFormat, LineIsLocalDateTimeDashMessage) {
    TempProfile profile;
    const time_t before = time(nullptr);
    writeLog("CertOpenStore success", LogSink());
    const time_t after = time(nullptr);

    std::set<std::string> dates, times;
    for (time_t second = before; second <= after; ++second) {
        dates.insert(formatClock(second, "%m/%d/%y"));
        times.insert(formatClock(second, "%H:%M:%S"));
    }
    const std::string text = profile.readLog();
    ASSERT_EQ(text.size(), strlen("03/05/24 14:07:09 - CertOpenStore success") + strlen(kTextLineEnd))
        << text;
    EXPECT_EQ(dates.count(text.substr(0, 8)), 1u) << text;
    EXPECT_EQ(text[8], ' ');
    EXPECT_EQ(times.count(text.substr(9, 8)), 1u) << text;
    EXPECT_EQ(text.substr(17), std::string(" - CertOpenStore success") + kTextLineEnd);
}

TEST(LogFileFormat, LinesAreAppendedAndATrailingNewlineLeavesAnEmptyLine) {
    TempProfile profile;
    writeLog("Decrypt start", LogSink());
    writeLog("CryptDecrypt success\n", LogSink());
    writeLog("Decrypt finished", LogSink());

    const std::vector<std::string> lines = splitLines(profile.readLog());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(messageOf(lines[0]), "Decrypt start");
    EXPECT_EQ(messageOf(lines[1]), "CryptDecrypt success");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(messageOf(lines[3]), "Decrypt finished");
}

TEST(LogFileFormat, MessagesLongerThan511BytesAreCut) {
    TempProfile profile;
    const std::string longName(700, 'n');
    writeLogFormatted("Provider: %s", LogSink(), longName.c_str());
    writeLog(longName.c_str(), LogSink());
    const std::string exact(511, 'x');
    writeLog(exact.c_str(), LogSink());

    const std::vector<std::string> lines = splitLines(profile.readLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(messageOf(lines[0]), "Provider: " + std::string(511 - 10, 'n'));
    EXPECT_EQ(messageOf(lines[1]), std::string(511, 'n'));
    EXPECT_EQ(messageOf(lines[2]), exact);
}

// A provider or container name is written by whatever program made the binding: a line break in
// one must not end the line and start one that looks like the library's own.
TEST(LogFileFormat, ControlCharactersOfNamesAreWrittenEscapedAndNothingElseChanges) {
    TempProfile profile;
    writeLogFormatted("Provider: %s", LogSink(), "Evil\n12/09/26 08:00:00 - FORGED\r\x7f\x01");
    writeLogFormatted("Provider: %s", LogSink(), "Microsoft Enhanced RSA and AES \xe9 \\x0a");
    // An escape that would pass the end of the line is left out whole.
    writeLogFormatted("%s", LogSink(), (std::string(509, 'a') + "\n").c_str());

    const std::vector<std::string> lines = splitLines(profile.readLog());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(messageOf(lines[0]), "Provider: Evil\\x0a12/09/26 08:00:00 - FORGED\\x0d\\x7f\\x01");
    EXPECT_EQ(messageOf(lines[1]), "Provider: Microsoft Enhanced RSA and AES \xe9 \\x0a");
    EXPECT_EQ(messageOf(lines[2]), std::string(509, 'a'));
}

TEST(LogFileFormat, ConcurrentWritersLoseNoLineAndKeepEachThreadsOrder) {
    TempProfile profile;
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 150;
    std::vector<std::thread> writers;
    for (int thread = 0; thread < kThreads; ++thread) {
        writers.emplace_back([thread] {
            for (int line = 0; line < kLinesEach; ++line) writeLogFormatted("writer %d line %d", LogSink(), thread, line);
        });
    }
    for (auto& writer : writers) writer.join();

    const std::string text = profile.readLog();
    size_t wholeSize = 0;
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int line = 0; line < kLinesEach; ++line) {
            const int length = snprintf(nullptr, 0, "writer %d line %d", thread, line);
            wholeSize += strlen("03/05/24 14:07:09 - ") + length + strlen(kTextLineEnd);
        }
    }
    // Overlapping lines always leave the file shorter than all of them together.
    if (text.size() < wholeSize && runningUnderWine())
        GTEST_SKIP() << "Wine: appending through a handle with FILE_APPEND_DATA alone is not "
                        "atomic (the end is read, then written at), so concurrent writers "
                        "overwrote each other's lines; Windows never overwrites on such a handle";
    EXPECT_EQ(text.size(), wholeSize);
    std::vector<int> nextLine(kThreads, 0);
    const std::vector<std::string> lines = splitLines(text);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
    for (const std::string& line : lines) {
        int thread = -1, number = -1;
        ASSERT_EQ(sscanf(messageOf(line).c_str(), "writer %d line %d", &thread, &number), 2) << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        EXPECT_EQ(number, nextLine[thread]++) << line;
    }
}

TEST(LogFileLocation, NothingIsWrittenOrCreatedWithoutTheLogFolder) {
    TempProfile profile(TempProfile::LogFolder::Absent);
    writeLog("CertOpenStore success", LogSink());
    trimLogFile();
    EXPECT_FALSE(fileExists(logFolderOf(profile.folder())));
}

TEST(LogFileLocation, ProfileOf239CharactersLogsAndOneOf240DoesNot) {
    TempProfile scratch;
    for (size_t length : {239u, 240u}) {
        SCOPED_TRACE(length);
        const std::string profile = makeFolderOfLength(scratch.folder(), length);
        std::filesystem::create_directory(logFolderOf(profile));
        setEnvironment("userprofile", profile);

        char path[kLogPathCapacity];
        const bool composed = composeLogPath(path);
        writeLog("CertOpenStore success", LogSink());

        if (length == 239) {
            ASSERT_TRUE(composed);
            EXPECT_EQ(std::string(path), logPathOf(profile));
            EXPECT_TRUE(fileExists(logPathOf(profile)));
        } else {
            EXPECT_FALSE(composed);
            EXPECT_FALSE(fileExists(logPathOf(profile)));
        }
    }
}

TEST(LogFileLocation, NoProfileMeansNoLogPath) {
    ScopedProfileEnvironment noProfile;
    char path[kLogPathCapacity];
    EXPECT_FALSE(composeLogPath(path));
    // An empty value must not put the log at the root of the file system.
    setEnvironment("userprofile", "");
    EXPECT_FALSE(composeLogPath(path));
}

TEST(LogFileLocation, UserprofileInAnySpellingComesBeforeHome) {
    ScopedProfileEnvironment environment;
    TempFolder profile, home;
    for (const TempFolder* folder : {&profile, &home})
        std::filesystem::create_directory(logFolderOf(folder->path()));
    setEnvironment("HOME", home.path());

    setEnvironment("UserProfile", profile.path());
    writeLog("to the profile", LogSink());
    unsetEnvironment("UserProfile");
    writeLog("to home", LogSink());

    EXPECT_EQ(splitLines(readWholeFile(logPathOf(profile.path()))).size(), 1u);
#ifdef _WIN32
    // HOME stands in for the profile only where Windows' variable is unknown.
    EXPECT_FALSE(fileExists(logPathOf(home.path())));
#else
    const std::vector<std::string> homeLines = splitLines(readWholeFile(logPathOf(home.path())));
    ASSERT_EQ(homeLines.size(), 1u);
    EXPECT_EQ(messageOf(homeLines[0]), "to home");
#endif
}

}  // namespace
