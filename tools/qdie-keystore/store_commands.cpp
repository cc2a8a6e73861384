// list, export, add, delete and stores: the certificates of the system stores.
#include <iostream>
#include <optional>

#include "commands.h"
#include "files.h"
#include "location_option.h"
#include "output.h"

namespace qdie_tool {

namespace {

namespace admin = softcapi::admin;

const char kThumbprintOption[] = "--thumbprint";
const char kDefaultStore[] = "My";

const char kListUsage[] =
    "Usage: qdie-keystore list [--store NAME] [--machine]\n"
    "\n"
    "Lists the certificates of a store (default: My), one a line:\n"
    "  <SHA-1 thumbprint>  <subject>  <key binding, or \"no key\">\n"
    "where the key binding reads: container=NAME provider=\"NAME\" type=N spec=exchange|signature\n"
    "Root lists the user's own roots; `qdie-keystore machine-roots` says where the machine's,\n"
    "which CryptoAPI shows beneath them, come from.\n"
    "\n"
    QDIE_MACHINE_HELP;

const char kMachineRootsUsage[] =
    "Usage: qdie-keystore machine-roots\n"
    "\n"
    "Says how many roots of the machine the store Root shows, read-only, beneath the user's own,\n"
    "and from which PEM bundle (QDIE_SYSTEM_ROOTS, by default /etc/ssl/certs/ca-certificates.crt):\n"
    "  N roots of the machine, from BUNDLE   (\"1 root\" for one)\n"
    "or why it shows none (the store then shows the user's roots alone):\n"
    "  no roots of the machine: BUNDLE: REASON\n";

const char kExportUsage[] =
    "Usage: qdie-keystore export --store NAME --thumbprint HEX --out FILE.der [--machine]\n"
    "\n"
    "Writes the certificate with that SHA-1 thumbprint (40 hexadecimal digits, ':' allowed\n"
    "between them) to FILE.der as it is stored, DER-encoded.\n"
    "\n"
    QDIE_MACHINE_HELP;

const char kAddUsage[] =
    "Usage: qdie-keystore add --store NAME FILE.der [--machine]\n"
    "\n"
    "Adds a DER-encoded certificate to a store, which is made when it does not exist. The\n"
    "certificate gets no key binding; adding one the store holds already changes nothing.\n"
    "\n"
    QDIE_MACHINE_HELP;

const char kDeleteUsage[] =
    "Usage: qdie-keystore delete --store NAME --thumbprint HEX [--machine]\n"
    "\n"
    "Removes the certificate with that SHA-1 thumbprint from a store. Its key container, if any,\n"
    "is kept; when no certificate of any store is bound to the container any more, a line says\n"
    "so:\n"
    "  key container NAME is left without certificates; its keys stay until delete-container\n"
    "\n"
    QDIE_MACHINE_HELP;

const char kStoresUsage[] =
    "Usage: qdie-keystore stores [--machine]\n"
    "\n"
    "Lists the names of the system stores the key store holds, one a line.\n"
    "\n"
    QDIE_MACHINE_HELP;

void runList(const Arguments& arguments, ChangeRecord&) {
    for (const admin::CertificateEntry& entry :
         admin::storeContents(arguments.value(kStoreOption, kDefaultStore), locationOf(arguments)))
        std::cout << describeCertificate(entry) << "\n";
}

void runMachineRoots(const Arguments&, ChangeRecord&) {
    const admin::MachineRootsSummary roots = admin::machineRootsSummary();
    if (roots.problem.empty())
        std::cout << roots.count << (roots.count == 1 ? " root" : " roots")
                  << " of the machine, from " << roots.bundle << "\n";
    else
        std::cout << "no roots of the machine: " << roots.bundle << ": " << roots.problem << "\n";
}

void runExport(const Arguments& arguments, ChangeRecord&) {
    std::string store = arguments.required(kStoreOption);
    std::string thumbprint = arguments.required(kThumbprintOption);
    std::string path = arguments.required(kOutOption);
    std::vector<BYTE> encoded = admin::exportCertificate(store, thumbprint, locationOf(arguments));
    OutputFile out(path);
    out.write(encoded);
    out.commit();
}

void runAdd(const Arguments& arguments, ChangeRecord& change) {
    std::string store = arguments.required(kStoreOption);
    admin::addCertificate(store, readInputFile(arguments.positionals()[0]), locationOf(arguments));
    change.made("certificate added to store '" + escapeControls(store) + "'");
}

void runDelete(const Arguments& arguments, ChangeRecord& change) {
    std::string store = arguments.required(kStoreOption);
    std::string thumbprint = arguments.required(kThumbprintOption);
    std::optional<softcapi::KeyBinding> abandoned =
        admin::deleteCertificate(store, thumbprint, locationOf(arguments));
    change.made("certificate " + escapeControls(thumbprint) + " deleted from store '" +
                escapeControls(store) + "'");
    if (abandoned)
        std::cout << "key container " << describeContainerName(abandoned->container)
                  << " is left without certificates; its keys stay until delete-container\n";
}

void runStores(const Arguments& arguments, ChangeRecord&) {
    for (const std::string& name : admin::storeNames(locationOf(arguments))) std::cout << escapeControls(name) << "\n";
}

}  // namespace

const std::vector<Command>& storeCommands() {
    static const std::vector<Command> kCommands = {
        {"list", "list the certificates of a store", kListUsage,
         {{kStoreOption}, {}, 0, "", {kMachineFlag}}, runList},
        {"export", "write a certificate of a store to a file", kExportUsage,
         {{kStoreOption, kThumbprintOption, kOutOption}, {}, 0, "", {kMachineFlag}}, runExport},
        {"add", "add a certificate file to a store", kAddUsage,
         {{kStoreOption}, {}, 1, "FILE.der", {kMachineFlag}}, runAdd},
        {"delete", "remove a certificate from a store", kDeleteUsage,
         {{kStoreOption, kThumbprintOption}, {}, 0, "", {kMachineFlag}}, runDelete},
        {"stores", "list the system stores", kStoresUsage, {{}, {}, 0, "", {kMachineFlag}},
         runStores},
        {"machine-roots", "say where the roots Root shows beneath the user's come from",
         kMachineRootsUsage, {{}, {}, 0, "", {}}, runMachineRoots},
    };
    return kCommands;
}

}  // namespace qdie_tool
