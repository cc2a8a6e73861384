// Scratch profile folders for tests. The log and the software key store find the profile through
// the `userprofile` variable (any spelling) or HOME, the key store through XDG_DATA_HOME first,
// and the machine's store and roots through QDIE_MACHINE_STORE and QDIE_SYSTEM_ROOTS, so these
// set those aside and restore them.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Removes every spelling of `userprofile`, HOME, XDG_DATA_HOME, QDIE_SYSTEM_ROOTS and
// QDIE_MACHINE_STORE from the environment for its lifetime.
class ScopedProfileEnvironment {
public:
    ScopedProfileEnvironment();
    ~ScopedProfileEnvironment();
    ScopedProfileEnvironment(const ScopedProfileEnvironment&) = delete;
    ScopedProfileEnvironment& operator=(const ScopedProfileEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::string>> saved_;
};

// A fresh temporary folder, removed with everything in it on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Creates nested folders below base so that the deepest one's path is exactly length characters.
std::string makeFolderOfLength(const std::string& base, size_t length);

// The log's place below a profile folder, and its folder.
std::string logFolderOf(const std::string& profile);
std::string logPathOf(const std::string& profile);

// The whole file as bytes; empty when it does not exist.
std::string readWholeFile(const std::string& path);
bool fileExists(const std::string& path);

// A temporary profile named by `userprofile`, with or without the log's folder; the software key
// store of the user lives in it.
class TempProfile {
public:
    enum class LogFolder { Present, Absent };
    explicit TempProfile(LogFolder logFolder = LogFolder::Present);

    const std::string& folder() const { return folder_.path(); }
    std::string logPath() const { return logPathOf(folder()); }
    std::string readLog() const { return readWholeFile(logPath()); }
    std::string keystorePath() const;
    // The bundle of the machine's roots the software CryptoAPI reads here.
    std::string machineRootsPath() const;
    // The folder of the machine's key store here (QDIE_MACHINE_STORE).
    std::string machineStorePath() const;

private:
    ScopedProfileEnvironment environment_;
    TempFolder folder_;
};
