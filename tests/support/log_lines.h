// The diagnostic log as the tests read it back: one entry per line, the date and time cut off.
#pragma once

#include <string>
#include <vector>

// "MM/DD/YY HH:MM:SS - message" gives "message"; an empty line (left by a message ending in a
// line feed) gives "".
std::vector<std::string> logMessages(const std::string& logFile);
