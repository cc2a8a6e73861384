// containers and delete-container: the key containers and the certificates bound to them.
#include <iostream>

#include "commands.h"
#include "location_option.h"
#include "output.h"

namespace qdie_tool {

namespace {

namespace admin = softcapi::admin;

const char kForceOption[] = "--force";

const char kContainersUsage[] =
    "Usage: qdie-keystore containers [--machine]\n"
    "\n"
    "Lists the key containers, in the order they were made, one a line:\n"
    "  container=NAME family=RSA|DSS|KSP keys=exchange,signature|cng pin=yes|no certificates=N\n"
    "each followed by the N certificates of any store bound to it, one a line:\n"
    "    <store>  <SHA-1 thumbprint>  <subject>\n"
    "A certificate is bound to a container when its key binding names the container (ignoring\n"
    "case) through a provider of the container's family, or through a provider the key store\n"
    "does not know. A container with certificates=0 holds keys nothing uses.\n"
    "\n"
    QDIE_MACHINE_HELP;

const char kDeleteContainerUsage[] =
    "Usage: qdie-keystore delete-container NAME [--provider NAME] [--force] [--machine]\n"
    "\n"
    "Deletes a key container and its keys, in the RSA family or in the family of the provider\n"
    "named (the key storage provider's keys when it names \"Microsoft Software Key Storage\n"
    "Provider\"). Refused while a certificate of any store is bound to it, unless --force is given:\n"
    "the certificates then keep their binding, to a container that no longer exists.\n"
    "\n"
    QDIE_MACHINE_HELP;

std::string keySpecList(const std::vector<DWORD>& keySpecs) {
    std::string list;
    // The key storage provider's one key has no key specification.
    for (DWORD keySpec : keySpecs)
        list += (list.empty() ? "" : ",") + (keySpec == 0 ? std::string("cng") : keySpecName(keySpec));
    return list.empty() ? "none" : list;
}

void runContainers(const Arguments& arguments, ChangeRecord&) {
    for (const admin::ContainerEntry& container : admin::containers(locationOf(arguments))) {
        std::cout << "container=" << describeContainerName(container.name)
                  << " family=" << container.family << " keys=" << keySpecList(container.keySpecs)
                  << " pin=" << (container.pinProtected ? "yes" : "no")
                  << " certificates=" << container.certificates.size() << "\n";
        for (const admin::BoundCertificate& certificate : container.certificates)
            std::cout << "    " << escapeControls(certificate.store) << "  "
                      << certificate.thumbprint << "  " << escapeControls(certificate.subject) << "\n";
    }
}

void runDeleteContainer(const Arguments& arguments, ChangeRecord& change) {
    const std::string& name = arguments.positionals()[0];
    try {
        admin::deleteContainer(name, arguments.value(kProviderOption),
                               arguments.has(kForceOption) ? admin::WhenBound::Delete
                                                           : admin::WhenBound::Refuse,
                               locationOf(arguments));
    } catch (const admin::ContainerInUse& refusal) {
        throw admin::AdminError(std::string(refusal.what()) + " (--force deletes it all the same)");
    }
    change.made("key container " + describeContainerName(name) + " deleted");
}

}  // namespace

const std::vector<Command>& containerCommands() {
    static const std::vector<Command> kCommands = {
        {"containers", "list the key containers and the certificates bound to each",
         kContainersUsage, {{}, {}, 0, "", {kMachineFlag}}, runContainers},
        {"delete-container", "delete a key container that no certificate is bound to",
         kDeleteContainerUsage,
         {{kProviderOption}, {}, 1, "container name", {kForceOption, kMachineFlag}},
         runDeleteContainer},
    };
    return kCommands;
}

}  // namespace qdie_tool
