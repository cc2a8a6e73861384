#include "location_option.h"

#include <unistd.h>

#include <stdexcept>

namespace qdie_tool {

softcapi::Location locationOf(const Arguments& arguments) {
    return arguments.has(kMachineFlag) ? softcapi::Location::LocalMachine
                                       : softcapi::Location::CurrentUser;
}

void refuseMachineUnlessRoot(const Arguments& arguments) {
    if (arguments.has(kMachineFlag) && geteuid() != 0)
        throw std::runtime_error("--machine is root's: only root may work on the machine's store");
}

}  // namespace qdie_tool
