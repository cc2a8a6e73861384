// The two process-wide words Java reads after a failed call.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "diagnostics/status.h"

using namespace diagnostics;

namespace {

// Runs first in this file and in its own process under ctest: nothing has been recorded yet.
TEST(StatusWords, StartAtZero) {
    EXPECT_EQ(lastStatus(), kStatusSuccess);
    EXPECT_EQ(providerError(), 0u);
}

TEST(StatusWords, EachWordKeepsItsLastValueIndependently) {
    recordStatus(kStatusStoreNotOpened);
    recordProviderError(0x80090016u);  // NTE_BAD_KEYSET
    recordStatus(kStatusSignatureFailed);
    EXPECT_EQ(lastStatus(), kStatusSignatureFailed);
    EXPECT_EQ(providerError(), 0x80090016u);
    recordStatus(kStatusSuccess);
    EXPECT_EQ(lastStatus(), kStatusSuccess);
    EXPECT_EQ(providerError(), 0x80090016u);
}

// Writers from several threads: every value read is one some thread wrote, whole.
TEST(StatusWords, ConcurrentWritersLeaveOnlyWholeValues) {
    const std::vector<uint32_t> codes = {kStatusStoreNotOpened, kStatusCertificateNotFound, kStatusDecryptionFailed,
                                         kStatusNoExchangeKey};
    const std::vector<uint32_t> errors = {0x80090016u, 0x8009000Du, 0x0000FFFFu, 0xFFFF0000u};
    const std::set<uint32_t> knownCodes(codes.begin(), codes.end());
    const std::set<uint32_t> knownErrors(errors.begin(), errors.end());
    recordStatus(codes[0]);
    recordProviderError(errors[0]);

    std::atomic<bool> stop{false};
    std::atomic<int> strangeReads{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (knownCodes.count(lastStatus()) == 0 || knownErrors.count(providerError()) == 0) ++strangeReads;
        }
    });
    std::vector<std::thread> writers;
    for (size_t writer = 0; writer < codes.size(); ++writer) {
        writers.emplace_back([&, writer] {
            for (int round = 0; round < 100000; ++round) {
                recordStatus(codes[writer]);
                recordProviderError(errors[writer]);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    stop = true;
    reader.join();

    EXPECT_EQ(strangeReads.load(), 0);
    EXPECT_EQ(knownCodes.count(lastStatus()), 1u);
    EXPECT_EQ(knownErrors.count(providerError()), 1u);
}

}  // namespace
