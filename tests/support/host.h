// What the tests need from the operating system: the process environment, fresh temporary
// folders, and whether Windows here is really Wine. One small implementation file per OS.
#pragma once

#include <string>
#include <vector>

// The separator of path components, and how a file written in text mode ends its lines.
extern const char kPathSeparator;
extern const char kTextLineEnd[];

// Sets a variable for this process and everything it calls (on Windows both the C runtime's copy
// and the one GetEnvironmentVariableA reads). On Windows an empty value removes the variable.
void setEnvironment(const std::string& name, const std::string& value);
void unsetEnvironment(const std::string& name);
// The names of the variables now set, as spelled in the environment.
std::vector<std::string> environmentNames();
// The value of a variable; empty when it is not set.
std::string readEnvironment(const std::string& name);

// A new folder below the system's temporary folder, its name starting with `prefix`; never one
// that existed before.
std::string makeTemporaryFolder(const std::string& prefix);

// Whether the Windows API here is Wine's (never true off Windows). Tests use it to tell a known
// difference of Wine from a fault, and skip with the reason.
bool runningUnderWine();
