// The command line of one subcommand: options with a value, flags, and positional arguments.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qdie_tool {

// A command line that does not fit the subcommand's usage; the tool exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a subcommand accepts.
struct ArgumentRules {
    std::vector<std::string> options;        // "--store", ...; each takes a value
    std::vector<std::string> secretOptions;  // among them, values wiped from the process's argv
    size_t positionals = 0;                  // exact count of non-option arguments
    const char* positionalName = "";         // how usage names them, for error messages
    std::vector<std::string> flags;          // "--force", ...; each takes no value
};

class Arguments {
public:
    bool has(const std::string& option) const { return values_.count(option) != 0; }
    // The option's value, or `fallback` when it was not given.
    std::string value(const std::string& option, const std::string& fallback = "") const;
    // The option's value; UsageError when it was not given.
    std::string required(const std::string& option) const;
    const std::vector<std::string>& positionals() const { return positionals_; }
    bool helpWanted() const { return help_; }

private:
    friend Arguments parseArguments(int argc, char** argv, const ArgumentRules& rules);
    std::map<std::string, std::string> values_;
    std::vector<std::string> positionals_;
    bool help_ = false;
};

// Parses argv[0..argc) (the words after the subcommand). "--opt VALUE" and "--opt=VALUE" are
// both accepted, a flag stands alone; "--" ends the options. "--help" anywhere before "--" wins
// over every error. Values of secret options are overwritten in argv, so the process list stops showing them.
Arguments parseArguments(int argc, char** argv, const ArgumentRules& rules);

}  // namespace qdie_tool
