// The key store file's record of its own changes, so that a reader that has read it once catches
// up by reading what changed since and nothing else: every certificate row carries the number of
// its last change, and what went (certificates, containers and their keys, stores) is remembered
// for the last kRememberedChanges changes. Triggers keep both, so every writer of the file keeps
// them right: this library, an earlier version of it, the sqlite3 shell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "softcapi/keystore/keystore_rows.h"

namespace softcapi {

// How far back what went is remembered, in changes.
const int64_t kRememberedChanges = 100000;

// Where the file's history stands.
struct ChangeMark {
    int64_t lineage = 0;   // random, drawn when the history starts: another history differs
    int64_t sequence = 0;  // the number of the last change
};

// Inside a write transaction: adds the history to a file that has none (one written by an earlier
// version), or lays it down anew, with a new lineage, when part of it is missing or altered.
void ensureChangeHistory(Connection& db);

// Inside a transaction: whether the file keeps its history whole, every object of it there as
// this library makes it. Only a change of the schema can change the answer.
bool keepsChangeHistory(Connection& db);

// Inside a read transaction, of a file that keeps its history: where it stands; none when its
// mark is gone. Without it a reader can only read anew whatever it needs.
std::optional<ChangeMark> readChangeMark(Connection& db);

struct RemovedCertificate {
    int64_t storeId = 0;
    int64_t id = 0;
};

struct ChangedCertificate {
    int64_t storeId = 0;
    CertificateRecord record;  // as the row is now
};

// A container whose row or keys changed, or that went.
struct ChangedContainer {
    int64_t family = 0;
    std::string name;
};

struct KeystoreChanges {
    // False when the history no longer reaches back far enough: everything is to be read anew,
    // as it is when a store was renamed or removed (by hand: this library never does either).
    bool complete = true;
    std::vector<RemovedCertificate> removedCertificates;
    std::vector<ChangedContainer> changedContainers;
    std::vector<ChangedCertificate> changedCertificates;  // by row id
};

// Inside a read transaction: what changed after change number `since` up to `now`. A certificate
// changed more than once comes once, as it is now; one added and removed again only as removed.
KeystoreChanges readChangesSince(Connection& db, int64_t since, const ChangeMark& now);

}  // namespace softcapi
