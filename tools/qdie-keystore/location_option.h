// --machine: the local machine's stores and containers instead of the current user's.
#pragma once

#include "arguments.h"
#include "softcapi/keystore/location.h"

namespace qdie_tool {

inline constexpr char kMachineFlag[] = "--machine";
// The line each usage text that takes it gives it.
#define QDIE_MACHINE_HELP "  --machine         the local machine's stores and containers (root only)\n"

softcapi::Location locationOf(const Arguments& arguments);

// Refuses --machine to a user who is not root, before anything is read or written: the machine's
// store is root's to change, and its keys root's alone to read.
void refuseMachineUnlessRoot(const Arguments& arguments);

}  // namespace qdie_tool
