// Crash safety of the software key store. A child process works through a plan of changes
// (certificates added and deleted through the CryptoAPI and the administration API, identities
// imported into new containers, containers deleted) and tells the parent over a pipe before it
// starts each change and after it returns. The parent kills it with SIGKILL at a random point,
// then checks that the key store opens through the library, passes PRAGMA integrity_check and
// holds exactly the changes that completed, or those and the one that was in flight. Halfway
// through, the parent puts the key store in WAL mode by hand, as a user of the sqlite3 shell may.
//   keystore_kill_test [kills] [seed]
#include <poll.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

#include "softcapi/admin/admin.h"
#include "softcapi/admin/support.h"
#include "softcapi/wincapi.h"
#include "keystore_changes.h"
#include "support/temp_profile.h"

namespace {

const size_t kIdentities = 6;
const size_t kChangesPerPlan = 16;
const int kDefaultKills = 300;
const unsigned kDefaultSeed = 20261208;
const char* const kStores[] = {"My", "CA", "Other"};
const size_t kHexThumbprint = 40;
// The child reports on this descriptor, the write end of the parent's pipe.
const int kReportDescriptor = 3;
const char kChildFlag[] = "--child";
// After the change aimed at has started, the kill waits up to this long: about one change.
const int kLongestDelayMicroseconds = 8000;
const int kChildSilenceLimitMs = 30000;
// Fewer kills than this landing inside a change would mean the test no longer tests that.
const double kLeastShareInFlight = 0.2;

void report(char event, size_t index) {
    std::string line = event + std::to_string(index) + "\n";
    if (write(kReportDescriptor, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        _exit(3);
}

// Works through the plan, then waits for the kill.
int runChild(const std::string& folder) {
    std::vector<PreparedIdentity> identities = loadIdentities(folder, kIdentities);
    std::ifstream planFile(folder + "/plan");
    std::vector<Change> plan;
    for (std::string line; std::getline(planFile, line);)
        plan.push_back(parseChange(line));
    for (size_t i = 0; i < plan.size(); ++i) {
        report('B', i);
        performChange(plan[i], identities);
        report('E', i);
    }
    report('D', plan.size());
    for (;;)
        pause();
}

struct Figures {
    int kills = 0;
    int inFlight = 0;
    int inFlightLanded = 0;
    int changesCompleted = 0;
    int journalsLeft = 0;  // kills inside a write transaction, which the next reader rolls back
    int checks = 0;
    int failures = 0;
    int inWalMode = 0;
};

void putInWalMode(const std::string& path) {
    sqlite3* db = nullptr;
    bool switched = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) ==
                        SQLITE_OK;
    sqlite3_close(db);
    if (!switched) throw std::runtime_error("the key store could not be put in WAL mode");
}

std::vector<std::string> containerNames(const KeystoreRows& rows) {
    const std::string prefix = "container|";
    std::vector<std::string> names;
    for (const std::string& row : rows) {
        if (row.compare(0, prefix.size(), prefix) != 0) continue;
        size_t nameStart = row.find('|', prefix.size()) + 1;
        names.push_back(row.substr(nameStart, row.rfind('|') - nameStart));
    }
    return names;
}

// Plans the next changes from the rows the key store holds now, so that most deletions find
// what they delete.
std::vector<Change> planChanges(const KeystoreRows& rows, int round, std::mt19937& random,
                                const std::vector<PreparedIdentity>& identities) {
    KeystoreRows simulated = rows;
    std::vector<Change> plan;
    for (size_t k = 0; k < kChangesPerPlan; ++k) {
        Change change;
        change.identity = random() % kIdentities;
        change.store = kStores[random() % std::size(kStores)];
        bool throughAdmin = random() % 2 == 0;
        std::vector<std::string> containers = containerNames(simulated);
        // Three in ten add, three delete, two import, two delete a container.
        const unsigned roll = random() % 10;
        if (roll < 3) {
            change.kind =
                throughAdmin ? ChangeKind::AddThroughAdmin : ChangeKind::AddThroughCryptoApi;
        } else if (roll < 6) {
            change.kind =
                throughAdmin ? ChangeKind::DeleteThroughAdmin : ChangeKind::DeleteThroughCryptoApi;
        } else if (roll < 8 || containers.empty()) {
            change.kind = ChangeKind::ImportIdentity;
        } else {
            change.kind = ChangeKind::DeleteContainer;
            change.container = containers[random() % containers.size()];
        }
        if (change.kind == ChangeKind::ImportIdentity)
            change.container = "crash-" + std::to_string(round) + "-" + std::to_string(k);
        if (change.kind == ChangeKind::ImportIdentity || change.kind == ChangeKind::DeleteContainer)
            change.store.clear();
        simulated = applyChange(simulated, change, identities);
        plan.push_back(change);
    }
    return plan;
}

// The child's reports, read line by line.
class ReportReader {
public:
    explicit ReportReader(int descriptor) : descriptor_(descriptor) {}
    ~ReportReader() { close(descriptor_); }
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    // The next line; empty at the end of the pipe. Throws when the child falls silent.
    std::string next() {
        for (;;) {
            size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            pollfd wait = {descriptor_, POLLIN, 0};
            if (poll(&wait, 1, kChildSilenceLimitMs) != 1)
                throw std::runtime_error("the child fell silent");
            char chunk[256];
            ssize_t got = read(descriptor_, chunk, sizeof(chunk));
            if (got <= 0) return "";
            buffer_.append(chunk, static_cast<size_t>(got));
        }
    }

private:
    int descriptor_;
    std::string buffer_;
};

struct ChildRun {
    size_t completed = 0;   // changes 0 .. completed-1 returned
    bool inFlight = false;  // change `completed` had started
};

void record(ChildRun& run, const std::string& line) {
    if (line.empty() || line[0] == 'D') return;
    size_t index = std::stoul(line.substr(1));
    if (line[0] == 'B') {
        if (index != run.completed)
            throw std::runtime_error("change " + line + " started out of turn");
        run.inFlight = true;
    } else {
        if (index != run.completed || !run.inFlight)
            throw std::runtime_error("change " + line + " ended out of turn");
        run.inFlight = false;
        ++run.completed;
    }
}

// Starts a child on the plan in `folder`, kills it once the change aimed at has started and a
// random moment more has passed, and gathers what it reported.
ChildRun runAndKill(const std::string& folder, size_t target, int delayMicroseconds) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw std::runtime_error("no pipe");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("no fork");
    if (child == 0) {
        // The read end may sit where the report goes; dup2 then replaces it.
        if (pipeEnds[0] != kReportDescriptor) close(pipeEnds[0]);
        dup2(pipeEnds[1], kReportDescriptor);
        execl("/proc/self/exe", "keystore_kill_test", kChildFlag, folder.c_str(), nullptr);
        _exit(127);
    }
    close(pipeEnds[1]);
    ReportReader reader(pipeEnds[0]);
    ChildRun run;
    const std::string aimedAt = "B" + std::to_string(target);
    for (std::string line = reader.next(); !line.empty() && line[0] != 'D'; line = reader.next()) {
        record(run, line);
        if (line == aimedAt) break;
    }
    usleep(static_cast<useconds_t>(delayMicroseconds));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    for (std::string line = reader.next(); !line.empty(); line = reader.next())
        record(run, line);
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
        throw std::runtime_error("the child ended before the kill, status " +
                                 std::to_string(status));
    return run;
}

void printDifference(const KeystoreRows& found, const KeystoreRows& expected) {
    for (const std::string& row : expected)
        if (!found.count(row)) std::fprintf(stderr, "    missing: %s\n", row.c_str());
    for (const std::string& row : found)
        if (!expected.count(row)) std::fprintf(stderr, "    extra:   %s\n", row.c_str());
}

// "store|thumbprint" for each certificate of the test's stores as this process's CryptoAPI lists
// it. The snapshots behind it are kept across opens, so they must notice every change a child made
// and every change a killed child left for rolling back.
std::set<std::string> listedThroughCryptoApi() {
    std::set<std::string> listed;
    for (const char* store : kStores) {
        HCERTSTORE handle = CertOpenSystemStoreA(0, store);
        if (handle == nullptr) throw std::runtime_error(std::string("no CryptoAPI store ") + store);
        for (PCCERT_CONTEXT context = nullptr;
             (context = CertEnumCertificatesInStore(handle, context)) != nullptr;) {
            std::vector<BYTE> thumbprint(20);
            DWORD size = static_cast<DWORD>(thumbprint.size());
            if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID,
                                                   thumbprint.data(), &size))
                throw std::runtime_error("a listed certificate without its thumbprint");
            listed.insert(std::string(store) + "|" + softcapi::admin::toHex(thumbprint));
        }
        CertCloseStore(handle, 0);
    }
    return listed;
}

// The same from the rows read with SQLite.
std::set<std::string> certificatesOf(const KeystoreRows& rows) {
    std::set<std::string> certificates;
    for (const char* store : kStores) {
        const std::string prefix = std::string("certificate|") + store + "|";
        for (auto row = rows.lower_bound(prefix);
             row != rows.end() && row->compare(0, prefix.size(), prefix) == 0; ++row)
            certificates.insert(std::string(store) + "|" +
                                row->substr(prefix.size(), kHexThumbprint));
    }
    return certificates;
}

// After a kill: the key store opens through the library and with SQLite, is intact, holds the
// completed changes, with or without the one in flight, and this process's CryptoAPI lists what
// it holds. Returns what it holds.
KeystoreRows check(const std::string& path, const KeystoreRows& before,
                   const std::vector<Change>& plan, const ChildRun& run,
                   const std::vector<PreparedIdentity>& identities, Figures& figures) {
    ++figures.checks;
    KeystoreRows expected = before;
    for (size_t i = 0; i < run.completed; ++i)
        expected = applyChange(expected, plan[i], identities);
    KeystoreRows found;
    try {
        softcapi::admin::storeNames();
        softcapi::admin::storeContents("My");
        found = readKeystoreRows(path);
    } catch (const std::exception& failure) {
        ++figures.failures;
        std::fprintf(stderr, "kill %d: %s\n", figures.kills, failure.what());
        return readKeystoreRows(path);
    }
    if (listedThroughCryptoApi() != certificatesOf(found)) {
        ++figures.failures;
        std::fprintf(stderr,
                     "kill %d: the CryptoAPI lists other certificates than the file holds\n",
                     figures.kills);
    }
    if (found == expected) return found;
    if (run.inFlight && found == applyChange(expected, plan[run.completed], identities)) {
        ++figures.inFlightLanded;
        return found;
    }
    ++figures.failures;
    std::fprintf(
        stderr, "kill %d: after %zu completed changes%s, the key store differs:\n", figures.kills,
        run.completed,
        run.inFlight ? (" and '" + formatChange(plan[run.completed]) + "' in flight").c_str() : "");
    printDifference(found, expected);
    return found;
}

int runParent(int kills, unsigned seed) {
    TempProfile profile(TempProfile::LogFolder::Absent);
    const std::string folder = profile.folder() + "/plans";
    std::filesystem::create_directory(folder);
    std::vector<PreparedIdentity> identities = prepareIdentities(kIdentities);
    saveIdentities(identities, folder);
    // The file exists from the start, so that every check has something to open.
    softcapi::admin::addCertificate("Setup", identities[0].certificate);
    KeystoreRows rows = readKeystoreRows(profile.keystorePath());

    std::mt19937 random(seed);
    Figures figures;
    for (int round = 0; round < kills; ++round) {
        if (round == kills / 2) putInWalMode(profile.keystorePath());
        figures.inWalMode += round >= kills / 2 ? 1 : 0;
        std::vector<Change> plan = planChanges(rows, round, random, identities);
        {
            std::ofstream planFile(folder + "/plan");
            for (const Change& change : plan)
                planFile << formatChange(change) << '\n';
        }
        size_t target = random() % kChangesPerPlan;
        int delay = static_cast<int>(random() % kLongestDelayMicroseconds);
        ChildRun run = runAndKill(folder, target, delay);
        ++figures.kills;
        figures.inFlight += run.inFlight ? 1 : 0;
        figures.changesCompleted += static_cast<int>(run.completed);
        std::error_code noJournal;
        const auto journal =
            std::filesystem::file_size(profile.keystorePath() + "-journal", noJournal);
        if (!noJournal && journal > 0) ++figures.journalsLeft;
        rows = check(profile.keystorePath(), rows, plan, run, identities, figures);
    }
    std::printf(
        "seed %u: %d kills (%d in WAL mode), %d with a change in flight (%d of those landed), %d "
        "inside a write transaction (a journal left to roll back), %d changes completed, %d "
        "checks, %d failures\n",
        seed, figures.kills, figures.inWalMode, figures.inFlight, figures.inFlightLanded,
        figures.journalsLeft, figures.changesCompleted, figures.checks, figures.failures);
    if (figures.inFlight < kLeastShareInFlight * figures.kills) {
        std::printf("too few kills landed inside a change to say anything\n");
        return 1;
    }
    return figures.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::string(argv[1]) == kChildFlag) return runChild(argv[2]);
        int kills = argc > 1 ? std::atoi(argv[1]) : kDefaultKills;
        unsigned seed =
            argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : kDefaultSeed;
        return runParent(kills, seed);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "keystore_kill_test: %s\n", failure.what());
        return 2;
    }
}
