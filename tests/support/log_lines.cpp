#include "support/log_lines.h"

#include <sstream>

namespace {

const size_t kPrefixLength = sizeof("MM/DD/YY HH:MM:SS - ") - 1;

}  // namespace

std::vector<std::string> logMessages(const std::string& logFile) {
    std::vector<std::string> messages;
    std::istringstream lines(logFile);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        messages.push_back(line.size() >= kPrefixLength ? line.substr(kPrefixLength) : line);
    }
    return messages;
}
