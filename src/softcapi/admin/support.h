// What the administration calls share: thumbprints in hexadecimal, store names, subjects and
// key bindings in both their forms.
#pragma once

#include <string>
#include <vector>

#include "softcapi/admin/admin.h"
#include "softcapi/keystore/keystore_rows.h"

namespace softcapi::admin {

std::string toHex(const std::vector<BYTE>& bytes);
// 40 hexadecimal digits, in either case, optionally separated by ':' as openssl prints them.
std::vector<BYTE> parseThumbprint(const std::string& text);
void checkStoreName(const std::string& store);
// The certificate's subject on one line (RFC 2253), or "(unreadable)".
std::string subjectOf(const std::vector<BYTE>& encoded);
// Whether a container the binding reaches exists and no certificate of any store is bound to it
// (see BoundCertificate): what is left once the binding's certificate is gone.
bool leavesContainerUnbound(Connection& db, const KeyBinding& binding);
// Runs `read` on a location's key store under a read transaction; nothing to read gives nothing.
template <typename Read>
void readKeystore(Read read, Location location = Location::CurrentUser);
// Runs `change` in one write transaction of a location's key store; nothing is kept when it
// throws.
template <typename Change>
void changeKeystore(Change change, Location location = Location::CurrentUser);

}  // namespace softcapi::admin

#include "softcapi/keystore/keystore_file.h"

namespace softcapi::admin {

[[noreturn]] void reportDatabaseError(const DatabaseError& failure, const char* action,
                                      Location location);

template <typename Read>
void readKeystore(Read read, Location location) {
    try {
        Connection db = openKeystoreForReading(keystorePath(location));
        if (!db.isOpen()) return;
        Transaction transaction(db, Transaction::Kind::Read);
        if (hasKeystoreSchema(db)) read(db);
    } catch (const DatabaseError& failure) {
        reportDatabaseError(failure, "read", location);
    }
}

template <typename Change>
void changeKeystore(Change change, Location location) {
    try {
        KeystoreWriter writer(location);
        change(writer.connection());
        writer.commit();
    } catch (const DatabaseError& failure) {
        reportDatabaseError(failure, "written", location);
    }
}

}  // namespace softcapi::admin
