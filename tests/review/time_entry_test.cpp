// What Ctrl+G takes besides a clock time: seconds from the run's start or
// from the view, in the spellings a person types.
#include "review/run_choice.h"
#include "review/time_entry.h"
#include "tests/review/time_zone.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <string>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

struct EntryRow {
    const char *name;
    const char *typed;
    bool taken;
    double seconds;
    bool fromView;
};

class SecondsEntryRows : public ::testing::TestWithParam<EntryRow> {};

TEST_P(SecondsEntryRows, FromTheStartOrFromTheView)
{
    const EntryRow &r = GetParam();
    const auto entry = parseSecondsEntry(r.typed);
    ASSERT_EQ(entry.has_value(), r.taken);
    if (!entry)
        return;
    EXPECT_DOUBLE_EQ(entry->seconds, r.seconds);
    EXPECT_EQ(entry->fromView, r.fromView);
}

const EntryRow kEntries[] = {
    {"seconds_from_start", "120 s", true, 120, false},
    {"no_blank", "120s", true, 120, false},
    {"no_unit", " 120 ", true, 120, false},
    {"han_unit", "90 秒", true, 90, false},
    {"fraction", "1.5 s", true, 1.5, false},
    {"forward", "+30 s", true, 30, true},
    {"back_ascii", "-30 s", true, -30, true},
    {"back_minus_sign", "\xE2\x88\x92" "30 s", true, -30, true},
    {"back_full_width", "\xEF\xBC\x8D" "30 s", true, -30, true},
    {"forward_full_width", "\xEF\xBC\x8B" "2.5s", true, 2.5, true},
    {"sign_then_blank", "+ 30 s", true, 30, true},
    {"clock_time", "14:43:00", false, 0, false},
    {"minutes_and_seconds", "2:00", false, 0, false},
    {"date", "2026-12-08 14:43", false, 0, false},
    {"exponent", "1e3 s", false, 0, false},
    {"infinity", "inf", false, 0, false},
    {"point_alone", ". s", false, 0, false},
    {"two_points", "1.2.3", false, 0, false},
    {"other_unit", "30 min", false, 0, false},
    {"sign_alone", "+", false, 0, false},
    {"empty", "", false, 0, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, SecondsEntryRows, ::testing::ValuesIn(kEntries), kRowName);

// The run list and the picture's title read a run's start on the same clock
// as the time axis: a lab east of Greenwich must not see UTC there.
struct StartRow {
    const char *name;
    int64_t ns;
    const char *stored;
    bool utc;
    const char *shown;
};

class RunStartRows : public ::testing::TestWithParam<StartRow> {
    testing::ScopedTimeZone zone_{"Asia/Shanghai"};
};

TEST_P(RunStartRows, LocalWithItsOffset)
{
    const StartRow &r = GetParam();
    RecordedRunInfo run;
    run.startTimeNs = r.ns;
    run.startTime = r.stored;
    EXPECT_EQ(runStartText(run, r.utc), r.shown);
}

// 2026-12-08T06:42:22.974 UTC
constexpr int64_t kStart = 1796712142974000000;
const StartRow kStarts[] = {
    {"local_not_utc", kStart, "2026-12-08T06:42:22.974+00:00", false, "2026-12-08T14:42:22.974+08:00"},
    {"utc_on_request", kStart, "2026-12-08T06:42:22.974+00:00", true, "2026-12-08T06:42:22.974+00:00"},
    {"no_nanoseconds_stored_text", 0, "2026-12-08T06:42:22", false, "2026-12-08T06:42:22"},
    {"nothing_known", 0, "", false, ""},
};
INSTANTIATE_TEST_SUITE_P(Rows, RunStartRows, ::testing::ValuesIn(kStarts), kRowName);

} // namespace
} // namespace adcard
