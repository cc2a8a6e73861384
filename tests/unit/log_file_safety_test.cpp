// What may stand in the log file's place (POSIX): a FIFO gets no line and stops nothing, a link is
// never followed, and a new log is private to the user.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "diagnostics/log.h"
#include "support/child_process.h"
#include "support/host.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

namespace fs = std::filesystem;

TEST(LogFileSafety, FifoInTheLogsPlaceGetsNoLineAndStopsNothing) {
    TempProfile profile;
    const std::string fifo = profile.logPath();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // With nobody reading, opening a FIFO for writing would wait for a reader forever.
    EXPECT_EQ(runInChild([] {
                  trimLogFile();
                  writeLog("CertOpenStore success", LogSink());
                  return 0;
              }),
              0);
    // With somebody reading, the line would reach the reader.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    trimLogFile();
    writeLog("CertOpenStore success", LogSink());
    char byte = 0;
    EXPECT_LE(read(reader, &byte, 1), 0);
    close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(LogFileSafety, LinkInTheLogsPlaceIsNeitherFollowedNorItsTargetCreated) {
    TempProfile profile;
    const std::string target = profile.folder() + "/elsewhere";
    fs::create_symlink(target, profile.logPath());
    writeLog("CertOpenStore success", LogSink());
    EXPECT_FALSE(fs::exists(target));
    std::ofstream(target) << "kept\n";
    writeLog("CertOpenStore success", LogSink());
    EXPECT_EQ(readWholeFile(target), "kept\n");
    EXPECT_TRUE(fs::is_symlink(profile.logPath()));
}

TEST(LogFileSafety, NewLogIsPrivateWhateverTheUmask) {
    TempProfile profile;
    const mode_t previous = umask(0);
    writeLog("CertOpenStore success", LogSink());
    umask(previous);
    struct stat status;
    ASSERT_EQ(stat(profile.logPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

}  // namespace
