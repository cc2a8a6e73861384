#include "arguments.h"

#include <algorithm>
#include <cstring>

namespace qdie_tool {

namespace {

const char kHelpOption[] = "--help";
const char kEndOfOptions[] = "--";

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool looksLikeOption(const char* word) {
    return std::strncmp(word, "--", 2) == 0;
}

bool helpRequested(int argc, char** argv) {
    for (int i = 0; i < argc && std::strcmp(argv[i], kEndOfOptions) != 0; ++i) {
        if (std::strcmp(argv[i], kHelpOption) == 0) return true;
    }
    return false;
}

// Overwrites a secret in place: /proc/PID/cmdline then shows 'x's of the same length.
void wipeArgument(char* text) {
    std::memset(text, 'x', std::strlen(text));
}

}  // namespace

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
    auto found = values_.find(option);
    return found != values_.end() ? found->second : fallback;
}

std::string Arguments::required(const std::string& option) const {
    auto found = values_.find(option);
    if (found == values_.end()) throw UsageError("missing required option " + option);
    return found->second;
}

Arguments parseArguments(int argc, char** argv, const ArgumentRules& rules) {
    Arguments parsed;
    if (helpRequested(argc, argv)) {
        parsed.help_ = true;
        return parsed;
    }
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        char* word = argv[i];
        if (optionsEnded || (word[0] != '-' || word[1] == '\0')) {
            parsed.positionals_.push_back(word);
            continue;
        }
        if (std::strcmp(word, kEndOfOptions) == 0) {
            optionsEnded = true;
            continue;
        }
        // Only the name is ever quoted back: what follows '=' may be a PIN.
        char* equals = std::strchr(word, '=');
        std::string name = equals != nullptr ? std::string(word, equals) : std::string(word);
        bool flag = contains(rules.flags, name);
        if (!looksLikeOption(word) || !(flag || contains(rules.options, name)))
            throw UsageError("unknown option " + name);
        if (parsed.has(name)) throw UsageError("option " + name + " is given twice");
        if (flag) {
            if (equals != nullptr) throw UsageError("option " + name + " takes no value");
            parsed.values_[name] = "";
            continue;
        }
        char* value = equals != nullptr ? equals + 1 : nullptr;
        if (value == nullptr) {
            if (i + 1 >= argc || looksLikeOption(argv[i + 1]))
                throw UsageError("option " + name + " needs a value");
            value = argv[++i];
        }
        parsed.values_[name] = value;
        if (contains(rules.secretOptions, name)) wipeArgument(value);
    }
    if (parsed.positionals_.size() > rules.positionals)
        throw UsageError(rules.positionals == 0 ? "unexpected argument"
                                                : std::string("more than one ") + rules.positionalName);
    if (parsed.positionals_.size() < rules.positionals)
        throw UsageError(std::string("missing ") + rules.positionalName);
    return parsed;
}

}  // namespace qdie_tool
