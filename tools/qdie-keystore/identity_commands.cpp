// new-identity and import-pfx: a key in a container, and its certificate bound to it in a store.
#include <iostream>
#include <optional>

#include "commands.h"
#include "files.h"
#include "location_option.h"
#include "output.h"
#include "text_checks.h"

namespace qdie_tool {

namespace {

namespace admin = softcapi::admin;

const char kSubjectOption[] = "--subject";
const char kKeyOption[] = "--key";
const char kPasswordOption[] = "--password";

const char kNewIdentityUsage[] =
    "Usage: qdie-keystore new-identity --subject \"CN=Alice\" [options]\n"
    "\n"
    "Makes a key in a key container and a self-signed certificate for it, and adds the\n"
    "certificate to a store, bound to the key. Prints the certificate's SHA-1 thumbprint and\n"
    "the binding.\n"
    "\n"
    "Options:\n"
    "  --subject DN      subject and issuer, e.g. \"CN=Alice\" or \"CN=Alice,O=Example\" (required)\n"
    "  --key TYPE        rsa-2048 (default), rsa-3072, rsa-4096, rsa-1024, dsa-1024, or\n"
    "                    ec-p256, ec-p384, ec-p521 (EC keys live in the key storage provider)\n"
    "  --key-spec SPEC   exchange (default for RSA) or signature (the only one for DSA)\n"
    "  --container NAME  key container (default: a generated {GUID} name)\n"
    "  --provider NAME   provider the binding names; any name, a legacy or unknown one included\n"
    "                    (default: the Enhanced RSA and AES provider for RSA, the DSS and\n"
    "                    Diffie-Hellman provider for DSA); \"Microsoft Software Key Storage\n"
    "                    Provider\" puts an RSA key of 2048 to 4096 bits there, a CNG key bound\n"
    "                    with type 0 and spec 0, which takes no --key-spec\n"
    "  --pin PIN         protect the key with a PIN (a key storage provider's key asks for it\n"
    "                    as a smart card's does)\n"
    "  --store NAME      system store (default: My)\n"
    QDIE_MACHINE_HELP
    "  --out FILE        also write the certificate, DER-encoded, to FILE (written before the\n"
    "                    store changes, given its name after; never a file of the key store)\n"
    "  --allow-names-beyond-latin-1\n"
    "                    take a container or provider name beyond Latin-1, which the library\n"
    "                    cannot use (to test its refusal)\n"
    "\n"
    "No value may hold a control character (below U+0020, or U+007F).\n";

const char kImportPfxUsage[] =
    "Usage: qdie-keystore import-pfx FILE.p12 [options]\n"
    "\n"
    "Imports the key and certificate of a PKCS#12 file (the older encryption Windows exports\n"
    "included) into a new key container, and adds the certificate to a store, bound to the key.\n"
    "Prints the certificate's SHA-1 thumbprint and the binding.\n"
    "\n"
    "Options:\n"
    "  --password PW     the file's password (default: empty)\n"
    "  --key-spec SPEC   exchange (default for RSA) or signature (the only one for DSA)\n"
    "  --container NAME  key container (default: a generated {GUID} name)\n"
    "  --provider NAME   provider the binding names; any name, a legacy or unknown one included;\n"
    "                    EC keys, and RSA keys when it names \"Microsoft Software Key Storage\n"
    "                    Provider\", go to the key storage provider\n"
    "  --pin PIN         protect the key with a PIN\n"
    "  --store NAME      system store (default: My)\n"
    QDIE_MACHINE_HELP
    "  --allow-names-beyond-latin-1\n"
    "                    take a container or provider name beyond Latin-1, which the library\n"
    "                    cannot use (to test its refusal)\n"
    "\n"
    "No value may hold a control character (below U+0020, or U+007F).\n"
    "A file whose MAC or encryption asks for more than 1000000 iterations of key derivation\n"
    "(8000000 in all) is refused before any is done.\n";

static_assert(admin::kMaxPkcs12Iterations == 1000000 &&
                  admin::kMaxPkcs12TotalIterations == 8000000,
              "import-pfx --help names the limits");

admin::KeyPlacement placementFrom(const Arguments& arguments) {
    refuseControlCharacters(arguments, {kContainerOption, kProviderOption, kPinOption, kStoreOption});
    refuseNamesBeyondLatin1(arguments, {kContainerOption, kProviderOption});
    admin::KeyPlacement placement;
    if (arguments.has(kKeySpecOption)) placement.keySpec = parseKeySpec(arguments.value(kKeySpecOption));
    placement.container = arguments.value(kContainerOption);
    placement.provider = arguments.value(kProviderOption);
    placement.pin = arguments.value(kPinOption);
    // An empty PIN would silently leave the key unprotected.
    if (arguments.has(kPinOption) && placement.pin.empty())
        throw UsageError("option --pin needs a PIN that is not empty");
    placement.store = arguments.value(kStoreOption, placement.store);
    placement.location = locationOf(arguments);
    return placement;
}

void printIdentity(const admin::Identity& identity) {
    std::cout << identity.thumbprint << "  " << describeBinding(identity.binding) << "\n";
}

std::string madeIdentity(const admin::Identity& identity, const admin::KeyPlacement& placement) {
    return "identity " + identity.thumbprint + " added to store '" +
           escapeControls(placement.store) + "'";
}

void runNewIdentity(const Arguments& arguments, ChangeRecord& change) {
    refuseControlCharacters(arguments, {kSubjectOption});
    admin::IdentityOptions options;
    options.subject = arguments.required(kSubjectOption);
    std::string keyType = arguments.value(kKeyOption, "rsa-2048");
    if (!admin::parseKeyType(keyType, options.keyType))
        throw UsageError("unknown key type '" + keyType +
                         "' (rsa-1024, rsa-2048, rsa-3072, rsa-4096, dsa-1024, ec-p256, ec-p384 or "
                         "ec-p521)");
    options.placement = placementFrom(arguments);
    // Made first, so an unwritable --out stops the command before the store changes; written
    // before the store changes, so a full disk does too; named only once the identity is in.
    std::optional<OutputFile> out;
    if (arguments.has(kOutOption)) out.emplace(arguments.value(kOutOption));
    admin::Identity identity = admin::createIdentity(options, [&](const admin::Identity& made) {
        if (out) out->write(made.certificate);
    });
    change.made(madeIdentity(identity, options.placement));
    if (out) out->commit();
    printIdentity(identity);
}

void runImportPfx(const Arguments& arguments, ChangeRecord& change) {
    refuseControlCharacters(arguments, {kPasswordOption});
    admin::KeyPlacement placement = placementFrom(arguments);
    std::vector<BYTE> pkcs12 = readInputFile(arguments.positionals()[0]);
    admin::Identity identity =
        admin::importPkcs12(pkcs12, arguments.value(kPasswordOption), placement);
    change.made(madeIdentity(identity, placement));
    printIdentity(identity);
}

}  // namespace

const std::vector<Command>& identityCommands() {
    static const std::vector<Command> kCommands = {
        {"new-identity", "make a key and a self-signed certificate bound to it", kNewIdentityUsage,
         {{kSubjectOption, kKeyOption, kKeySpecOption, kContainerOption, kProviderOption, kPinOption,
           kStoreOption, kOutOption},
          {kPinOption},
          0,
          "",
          {kAllowUnusableNamesFlag, kMachineFlag}},
         runNewIdentity},
        {"import-pfx", "import a key and its certificate from a PKCS#12 file", kImportPfxUsage,
         {{kPasswordOption, kKeySpecOption, kContainerOption, kProviderOption, kPinOption,
           kStoreOption},
          {kPinOption, kPasswordOption},
          1,
          "FILE.p12",
          {kAllowUnusableNamesFlag, kMachineFlag}},
         runImportPfx},
    };
    return kCommands;
}

}  // namespace qdie_tool
