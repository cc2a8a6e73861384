// qdie-keystore: administration of the software key store, as certutil is on Windows.
// Exit status: 0 done, 1 failed (nothing changed), 2 the command line is wrong.
#include <cstring>
#include <iostream>
#include <new>

#include "commands.h"
#include "output.h"

namespace {

using qdie_tool::Command;
using qdie_tool::kToolName;

const int kExitFailure = 1;
const int kExitUsage = 2;

const char kToolHelp[] = "--help";

std::vector<const Command*> allCommands() {
    std::vector<const Command*> commands;
    for (const auto* group : {&qdie_tool::identityCommands(), &qdie_tool::storeCommands()}) {
        for (const Command& command : *group) commands.push_back(&command);
    }
    return commands;
}

void printToolUsage() {
    std::cout << "Usage: " << kToolName << " COMMAND [options]\n"
                 "\n"
                 "Administers the current user's software certificate stores and key containers.\n"
                 "\n"
                 "Commands:\n";
    for (const Command* command : allCommands()) {
        std::string name = command->name;
        std::cout << "  " << name << std::string(14 - name.size(), ' ') << command->summary << "\n";
    }
    std::cout << "\n'" << kToolName << " COMMAND --help' describes a command.\n";
}

const Command* findCommand(const char* name) {
    for (const Command* command : allCommands()) {
        if (std::strcmp(command->name, name) == 0) return command;
    }
    return nullptr;
}

int runCommand(const Command& command, int argc, char** argv) {
    try {
        qdie_tool::Arguments arguments = qdie_tool::parseArguments(argc, argv, command.rules);
        if (arguments.helpWanted())
            std::cout << command.usage;
        else
            command.run(arguments);
    } catch (const qdie_tool::UsageError& error) {
        qdie_tool::printError(std::string(command.name) + ": " + error.what() + " (see '" +
                              kToolName + " " + command.name + " --help')");
        return kExitUsage;
    } catch (const std::exception& error) {
        qdie_tool::printError(std::string(command.name) + ": " + error.what());
        return kExitFailure;
    }
    return 0;
}

int runTool(int argc, char** argv) {
    if (argc < 2) {
        qdie_tool::printError(std::string("no command given (see '") + kToolName + " --help')");
        return kExitUsage;
    }
    int status = 0;
    if (std::strcmp(argv[1], kToolHelp) == 0) {
        printToolUsage();
    } else if (const Command* command = findCommand(argv[1])) {
        status = runCommand(*command, argc - 2, argv + 2);
    } else {
        qdie_tool::printError(std::string("unknown command '") + argv[1] + "' (see '" + kToolName +
                              " --help')");
        return kExitUsage;
    }
    // A result that could not be printed (a full disk, a closed pipe) is not a success.
    std::cout.flush();
    if (!std::cout) {
        qdie_tool::printError("cannot write to standard output");
        return kExitFailure;
    }
    return status;
}

}  // namespace

// Whatever escapes a command (memory that ran out, above all) still ends the tool with one line
// and a failure, never with an abort.
int main(int argc, char** argv) {
    try {
        return runTool(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << kToolName << ": out of memory\n";
    } catch (...) {
        std::cerr << kToolName << ": unexpected failure\n";
    }
    return kExitFailure;
}
