#include "output.h"

#include <cstdio>
#include <iostream>

#include "arguments.h"

namespace qdie_tool {

const char kToolName[] = "qdie-keystore";

namespace {

const char kExchangeName[] = "exchange";
const char kSignatureName[] = "signature";
const char kNoKey[] = "no key";
const char kColumnSeparator[] = "  ";

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

std::string hexEscape(unsigned char c) {
    char escaped[5];
    std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
    return escaped;
}

// Always quoted, with '"' and '\' escaped, so the value can be read back unambiguously.
std::string quoted(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '"' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return "\"" + escapeControls(escaped) + "\"";
}

}  // namespace

std::string keySpecName(DWORD keySpec) {
    if (keySpec == AT_KEYEXCHANGE) return kExchangeName;
    if (keySpec == AT_SIGNATURE) return kSignatureName;
    return std::to_string(keySpec);
}

DWORD parseKeySpec(const std::string& text) {
    if (text == kExchangeName) return AT_KEYEXCHANGE;
    if (text == kSignatureName) return AT_SIGNATURE;
    throw UsageError("unknown key specification '" + text + "' (exchange or signature)");
}

// Generated container names ("{GUID}") print bare; a name that would read ambiguously is quoted.
std::string describeContainerName(const std::string& name) {
    bool bare = !name.empty();
    for (unsigned char c : name) {
        if (isControl(c) || c == ' ' || c == '"' || c == '\\') bare = false;
    }
    return bare ? name : quoted(name);
}

std::string describeBinding(const softcapi::KeyBinding& binding) {
    return "container=" + describeContainerName(binding.container) +
           " provider=" + quoted(binding.provider) + " type=" + std::to_string(binding.providerType) +
           " spec=" + keySpecName(binding.keySpec);
}

std::string describeCertificate(const softcapi::admin::CertificateEntry& entry) {
    return entry.thumbprint + kColumnSeparator + escapeControls(entry.subject) + kColumnSeparator +
           (entry.binding ? describeBinding(*entry.binding) : kNoKey);
}

std::string escapeControls(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (isControl(static_cast<unsigned char>(c)))
            out += hexEscape(static_cast<unsigned char>(c));
        else
            out += c;
    }
    return out;
}

void printError(const std::string& message) {
    std::cerr << kToolName << ": " << escapeControls(message) << std::endl;
}

}  // namespace qdie_tool
