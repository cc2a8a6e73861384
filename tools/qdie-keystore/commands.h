// The subcommands: their names, usage texts, the arguments they take and what they do.
#pragma once

#include <string>
#include <vector>

#include "arguments.h"

namespace qdie_tool {

// What a command has changed in the key store. A failure after the change (its result could
// not be written) is then reported with its own exit status and says the change was made, so
// that a script does not make it a second time.
class ChangeRecord {
public:
    void made(const std::string& what) { what_ = what; }
    bool wasMade() const { return !what_.empty(); }
    const std::string& what() const { return what_; }

private:
    std::string what_;
};

struct Command {
    const char* name;
    const char* summary;  // one line in the tool's own usage
    const char* usage;    // what `<name> --help` prints
    ArgumentRules rules;
    // Does the work and prints its result, recording a change once it is made; throws on failure.
    void (*run)(const Arguments& arguments, ChangeRecord& change);
};

inline constexpr char kStoreOption[] = "--store";
inline constexpr char kKeySpecOption[] = "--key-spec";
inline constexpr char kContainerOption[] = "--container";
inline constexpr char kProviderOption[] = "--provider";
inline constexpr char kPinOption[] = "--pin";
inline constexpr char kOutOption[] = "--out";

// new-identity, import-pfx
const std::vector<Command>& identityCommands();
// list, export, add, delete, stores
const std::vector<Command>& storeCommands();
// containers, delete-container
const std::vector<Command>& containerCommands();

}  // namespace qdie_tool
