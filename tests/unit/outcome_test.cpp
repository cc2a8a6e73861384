// The outcome's rules of precedence, on which every path's return value rests.
#include <gtest/gtest.h>

#include "keyops/outcome.h"

using namespace diagnostics;
using keyops::Outcome;

namespace {

// A path that records nothing returns neither success nor failure; a late failure replaces
// success; a store that cannot be closed speaks only for a call that had succeeded.
TEST(Outcome, NothingRecordedIsNoSuccessAndLateFailuresSpeakAsTheRulesSay) {
    Outcome nothing;
    EXPECT_FALSE(nothing.succeeded());
    EXPECT_FALSE(nothing.failed());
    nothing.recordUnlessFailed(kStatusStoreNotClosed, "CertCloseStore", 5);
    EXPECT_FALSE(nothing.recorded());

    Outcome signedThenReleaseFailed;
    signedThenReleaseFailed.record(kStatusSuccess);
    EXPECT_TRUE(signedThenReleaseFailed.succeeded());
    signedThenReleaseFailed.record(kStatusContextNotReleased, "CryptReleaseContext", 6);
    EXPECT_TRUE(signedThenReleaseFailed.failed());
    signedThenReleaseFailed.recordUnlessFailed(kStatusStoreNotClosed, "CertCloseStore", 5);
    EXPECT_EQ(signedThenReleaseFailed.code(), kStatusContextNotReleased);
    EXPECT_EQ(signedThenReleaseFailed.windowsError(), 6u);

    Outcome signedThenStoreNotClosed;
    signedThenStoreNotClosed.record(kStatusSuccess);
    signedThenStoreNotClosed.recordUnlessFailed(kStatusStoreNotClosed, "CertCloseStore", 5);
    EXPECT_EQ(signedThenStoreNotClosed.code(), kStatusStoreNotClosed);
    EXPECT_STREQ(signedThenStoreNotClosed.step(), "CertCloseStore");
}

}  // namespace
