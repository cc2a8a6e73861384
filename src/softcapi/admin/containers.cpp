// Administration of key containers: which certificates are bound to each, and their deletion.
#include <map>
#include <optional>

#include "softcapi/admin/support.h"
#include "softcapi/advapi32/providers.h"
#include "softcapi/shim/text_encoding.h"

namespace softcapi::admin {

namespace {

bool reachesFamily(const KeyBinding& binding, KeyFamily family) {
    if (isKeyStorageProvider(binding.provider)) return family == KeyFamily::Ksp;
    const ProviderInfo* known = findProvider(binding.provider.c_str());
    return known == nullptr || known->family == family;
}

struct Binding {
    KeyBinding info;
    std::string store;
    CertificateRecord record;
};

// Every certificate of every store that has a binding, by the folded name of its container.
std::multimap<std::string, Binding> bindingsByContainer(Connection& db) {
    std::multimap<std::string, Binding> bindings;
    for (const std::string& store : loadStoreNames(db)) {
        for (CertificateRecord& record : loadCertificates(db, store)) {
            if (!record.binding) continue;
            std::string container = foldAsciiCase(record.binding->container);
            KeyBinding info = *record.binding;
            bindings.emplace(std::move(container),
                             Binding{std::move(info), store, std::move(record)});
        }
    }
    return bindings;
}

// The bindings that reach the container.
std::vector<const Binding*> boundTo(const std::multimap<std::string, Binding>& bindings,
                                    KeyFamily family, const std::string& container) {
    std::vector<const Binding*> bound;
    auto [first, last] = bindings.equal_range(foldAsciiCase(container));
    for (auto binding = first; binding != last; ++binding) {
        if (reachesFamily(binding->second.info, family)) bound.push_back(&binding->second);
    }
    return bound;
}

// The key specifications of every container, by its row.
std::map<int64_t, std::vector<DWORD>> keySpecsByContainer(Connection& db) {
    std::map<int64_t, std::vector<DWORD>> specs;
    Statement query(db, "SELECT container_id, key_spec FROM container_keys "
                        "ORDER BY container_id, key_spec");
    while (query.step()) specs[query.integer(0)].push_back(static_cast<DWORD>(query.integer(1)));
    return specs;
}

// Refuses to go on while any certificate is bound to the container, naming the first.
void refuseWhenBound(Connection& db, KeyFamily family, const std::string& container) {
    std::multimap<std::string, Binding> bindings = bindingsByContainer(db);
    std::vector<const Binding*> bound = boundTo(bindings, family, container);
    if (bound.empty()) return;
    throw ContainerInUse("key container '" + container + "' is bound to certificate " +
                         toHex(bound[0]->record.thumbprint) + " in store '" + bound[0]->store +
                         "'" +
                         (bound.size() > 1 ? " and " + std::to_string(bound.size() - 1) + " more"
                                           : ""));
}

KeyFamily familyOfProvider(const std::string& provider) {
    if (provider.empty()) return KeyFamily::Rsa;
    if (isKeyStorageProvider(provider)) return KeyFamily::Ksp;
    const ProviderInfo* known = findProvider(provider.c_str());
    if (known == nullptr) throw AdminError("provider '" + provider + "' is not known");
    return known->family;
}

}  // namespace

bool leavesContainerUnbound(Connection& db, const KeyBinding& binding) {
    std::optional<std::multimap<std::string, Binding>> bindings;
    for (KeyFamily family : {KeyFamily::Rsa, KeyFamily::Dss, KeyFamily::Ksp}) {
        if (!reachesFamily(binding, family) || !containerExists(db, family, binding.container))
            continue;
        if (!bindings) bindings = bindingsByContainer(db);
        if (boundTo(*bindings, family, binding.container).empty()) return true;
    }
    return false;
}

std::vector<ContainerEntry> containers(Location location) {
    std::vector<ContainerEntry> entries;
    readKeystore([&](Connection& db) {
        std::multimap<std::string, Binding> bindings = bindingsByContainer(db);
        std::map<int64_t, std::vector<DWORD>> keySpecs = keySpecsByContainer(db);
        Statement query(db, "SELECT id, family, name, pin_protected FROM containers ORDER BY id");
        while (query.step()) {
            ContainerEntry entry;
            KeyFamily family = static_cast<KeyFamily>(query.integer(1));
            entry.family = family == KeyFamily::Dss ? "DSS" : family == KeyFamily::Ksp ? "KSP" : "RSA";
            entry.name = query.text(2);
            entry.pinProtected = query.integer(3) != 0;
            entry.keySpecs = keySpecs[query.integer(0)];
            for (const Binding* binding : boundTo(bindings, family, entry.name)) {
                entry.certificates.push_back({binding->store, toHex(binding->record.thumbprint),
                                              subjectOf(binding->record.encoded)});
            }
            entries.push_back(std::move(entry));
        }
    }, location);
    return entries;
}

void deleteContainer(const std::string& container, const std::string& provider,
                     WhenBound whenBound, Location location) {
    KeyFamily family = familyOfProvider(provider);
    changeKeystore([&](Connection& db) {
        if (!containerExists(db, family, container))
            throw AdminError("key container '" + container + "' does not exist");
        if (whenBound == WhenBound::Refuse) refuseWhenBound(db, family, container);
        softcapi::deleteContainer(db, family, container);
    }, location);
}

}  // namespace softcapi::admin
