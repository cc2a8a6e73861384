// Log messages of any bytes. The line written is the message cut at its terminator and at 511
// bytes, after the date and time, a formatted one with its control bytes written "\xHH" (an
// escape that would not fit left out whole); the text handed to Java is modified UTF-8 that
// decodes back to the same Latin-1 characters. No JVM is needed: the conversion is called
// directly.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <string>

#include "diagnostics/log.h"
#include "diagnostics/log_forward.h"
#include "fuzz_check.h"
#include "support/temp_profile.h"

using namespace diagnostics;

namespace {

// "MM/DD/YY HH:MM:SS - "
const size_t kStampLength = 20;

TempProfile& profile() {
    static TempProfile scratch(TempProfile::LogFolder::Present);
    return scratch;
}

bool isStamp(const std::string& line) {
    static const char kShape[] = "00/00/00 00:00:00 - ";
    for (size_t i = 0; i < kStampLength; ++i) {
        bool digit = kShape[i] == '0';
        if (digit ? (line[i] < '0' || line[i] > '9') : line[i] != kShape[i]) return false;
    }
    return true;
}

void requireLogged(const std::string& message) {
    std::string file = profile().readLog();
    require(file.size() == kStampLength + message.size() + 1 && isStamp(file) &&
                file.compare(kStampLength, message.size(), message) == 0 && file.back() == '\n',
            "the file holds one line: date, time and the message as cut");
    unlink(profile().logPath().c_str());
}

// Modified UTF-8 as the JVM reads it: no zero byte, bytes from 0x80 only in two-byte sequences
// of a character up to 0xFF.
std::string decodeModifiedUtf8(const char* text) {
    std::string decoded;
    for (size_t i = 0; text[i] != '\0'; ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            decoded += static_cast<char>(lead);
            continue;
        }
        const unsigned char next = static_cast<unsigned char>(text[i + 1]);
        require((lead & 0xE0) == 0xC0 && (next & 0xC0) == 0x80,
                "a byte from 0x80 is a two-byte sequence");
        const unsigned value = ((lead & 0x1Fu) << 6) | (next & 0x3Fu);
        require(value >= 0x80 && value <= 0xFF,
                "a two-byte sequence carries one Latin-1 character");
        decoded += static_cast<char>(value);
        ++i;
    }
    return decoded;
}

// What a formatted line holds: control bytes escaped, cut at 511 bytes before an escape that
// would pass them.
std::string escapedAndCut(const std::string& message) {
    std::string escaped;
    for (unsigned char c : message) {
        std::string piece(1, static_cast<char>(c));
        if (c < 0x20 || c == 0x7F) {
            char hex[5];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            piece = hex;
        }
        if (escaped.size() + piece.size() > kLogMessageCapacity - 1) break;
        escaped += piece;
    }
    return escaped;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    profile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string message =
        input.substr(0, std::min(input.find('\0'), kLogMessageCapacity - 1));

    writeLog(input.c_str(), LogSink());
    requireLogged(message);
    writeLogFormatted("%s", LogSink(), input.c_str());
    requireLogged(escapedAndCut(message));
    writeLogFormatted("Provider: %s", LogSink(), input.c_str());
    requireLogged(escapedAndCut(("Provider: " + message).substr(0, kLogMessageCapacity - 1)));

    char text[kJavaTextCapacity];
    latin1ToModifiedUtf8(message.data(), message.size(), text);
    require(decodeModifiedUtf8(text) == message, "Java receives the message's own characters");
    trimLogFile();
    return 0;
}
