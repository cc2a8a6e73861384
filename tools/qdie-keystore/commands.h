// The subcommands: their names, usage texts, the arguments they take and what they do.
#pragma once

#include <vector>

#include "arguments.h"

namespace qdie_tool {

struct Command {
    const char* name;
    const char* summary;  // one line in the tool's own usage
    const char* usage;    // what `<name> --help` prints
    ArgumentRules rules;
    // Does the work and prints its result; throws on failure.
    void (*run)(const Arguments& arguments);
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

}  // namespace qdie_tool
