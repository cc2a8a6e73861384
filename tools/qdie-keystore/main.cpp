// qdie-keystore: administration of the software key store, as certutil is on Windows.
// Exit status: 0 done, 1 failed (nothing changed), 2 the command line is wrong, 3 the change was
// made but what the command had to print or write then failed.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>

#include "commands.h"
#include "location_option.h"
#include "output.h"

namespace {

using qdie_tool::Command;
using qdie_tool::kToolName;

const int kExitFailure = 1;
const int kExitUsage = 2;
const int kExitChangedButUnreported = 3;

const char kNoOutput[] = "cannot write to standard output";

const char kToolHelp[] = "--help";

std::vector<const Command*> allCommands() {
    std::vector<const Command*> commands;
    for (const auto* group : {&qdie_tool::identityCommands(), &qdie_tool::storeCommands(),
                              &qdie_tool::containerCommands()}) {
        for (const Command& command : *group) commands.push_back(&command);
    }
    return commands;
}

void printToolUsage() {
    std::cout << "Usage: " << kToolName << " COMMAND [options]\n"
                 "\n"
                 "Administers the current user's software certificate stores and key containers,\n"
                 "or with --machine the local machine's (root only).\n"
                 "\n"
                 "Commands:\n";
    for (const Command* command : allCommands()) {
        std::string name = command->name;
        std::cout << "  " << name << std::string(18 - name.size(), ' ') << command->summary << "\n";
    }
    std::cout << "\n'" << kToolName << " COMMAND --help' describes a command.\n"
                 "\n"
                 "Exit status: 0 done, 1 failed (nothing changed), 2 the command line is wrong,\n"
                 "3 the change was made but its result could not be printed or written.\n";
}

const Command* findCommand(const char* name) {
    for (const Command* command : allCommands()) {
        if (std::strcmp(command->name, name) == 0) return command;
    }
    return nullptr;
}

// A result that could not be printed (a full disk, a closed pipe) is not a success.
void flushOutput() {
    std::cout.flush();
    if (!std::cout) throw std::runtime_error(kNoOutput);
}

int runCommand(const Command& command, int argc, char** argv) {
    qdie_tool::ChangeRecord change;
    try {
        qdie_tool::Arguments arguments = qdie_tool::parseArguments(argc, argv, command.rules);
        if (arguments.helpWanted()) {
            std::cout << command.usage;
        } else {
            qdie_tool::refuseMachineUnlessRoot(arguments);
            command.run(arguments, change);
        }
        flushOutput();
    } catch (const qdie_tool::UsageError& error) {
        qdie_tool::printError(std::string(command.name) + ": " + error.what() + " (see '" +
                              kToolName + " " + command.name + " --help')");
        return kExitUsage;
    } catch (const std::exception& error) {
        if (change.wasMade()) {
            qdie_tool::printError(std::string(command.name) + ": the change was made (" +
                                  change.what() + "), but " + error.what());
            return kExitChangedButUnreported;
        }
        qdie_tool::printError(std::string(command.name) + ": " + error.what());
        return kExitFailure;
    }
    return 0;
}

// A descriptor of 0, 1 or 2 that is closed would be handed to the next file opened, and what is
// printed would go into it: each is held by /dev/null, read-only, so that printing to a closed
// standard output still fails.
void holdStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDONLY);
    }
}

int runTool(int argc, char** argv) {
    if (argc < 2) {
        qdie_tool::printError(std::string("no command given (see '") + kToolName + " --help')");
        return kExitUsage;
    }
    if (const Command* command = findCommand(argv[1]))
        return runCommand(*command, argc - 2, argv + 2);
    if (std::strcmp(argv[1], kToolHelp) != 0) {
        qdie_tool::printError(std::string("unknown command '") + argv[1] + "' (see '" + kToolName +
                              " --help')");
        return kExitUsage;
    }
    printToolUsage();
    try {
        flushOutput();
    } catch (const std::exception& error) {
        qdie_tool::printError(error.what());
        return kExitFailure;
    }
    return 0;
}

}  // namespace

// Whatever escapes a command (memory that ran out, above all) still ends the tool with one line
// and a failure, never with an abort.
int main(int argc, char** argv) {
    holdStandardDescriptors();
    try {
        return runTool(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << kToolName << ": out of memory\n";
    } catch (...) {
        std::cerr << kToolName << ": unexpected failure\n";
    }
    return kExitFailure;
}
