// DriverLoader against real shared libraries: the simulated card, a path that
// does not exist, and a library that lacks one entry.
#include "driver/error_codes.h"
#include "driver/loader.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace adcard;

// Counts the process's dlopen calls, to see how often the loader opens.
static int gDlopenCalls = 0;
extern "C" void *dlopen(const char *file, int mode)
{
    using Fn = void *(*)(const char *, int);
    static const auto next = reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, "dlopen"));
    ++gDlopenCalls;
    return next(file, mode);
}

// Names this executable's own code (the loader's included) looks up in an
// opened library, while a test counts them. The link wraps dlsym with --wrap
// rather than interposing it, so that a shared sanitizer runtime keeps the
// real dlsym; a static one (clang's) is wrapped too and looks up before it
// is ready, which is why the wrapper is not instrumented and records
// nothing until a test asks.
static std::vector<std::string> gLookups;
static constinit bool gCounting = false;
extern "C" void *__real_dlsym(void *handle, const char *name);
extern "C" __attribute__((no_sanitize("address", "undefined"))) void *__wrap_dlsym(void *handle, const char *name)
{
    if (gCounting && handle != RTLD_NEXT && handle != RTLD_DEFAULT)
        gLookups.emplace_back(name);
    return __real_dlsym(handle, name);
}

static constexpr int16_t kGuard = 0x5A5A;
static constexpr const char *kMissing = "/nonexistent-adcard-dir/libadcard.so";

static std::size_t lines(const std::string &s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

class Loader : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *v : {"ADCARD_SIM_FAIL_INITIAL", "ADCARD_SIM_FAIL_STARTINTR", "ADCARD_SIM_FAIL_ADRESULT_EVERY",
                              "ADCARD_SIM_QUEUE", "ADCARD_SIM_STATS", "ADCARD_SIM_SEQUENCE"})
            ::unsetenv(v);
        ::setenv("ADCARD_SIM_SPEED", "100", 1);
    }
    void TearDown() override { ::unsetenv("ADCARD_SIM_SPEED"); }
};

TEST_F(Loader, OpensTheLibraryOnceAndOnlyAtTheFirstCall)
{
    const int before = gDlopenCalls;
    DriverLoader drv(ADCARD_SIM_LIBRARY);
    EXPECT_FALSE(drv.libraryOpenAttempted());
    EXPECT_EQ(gDlopenCalls, before);
    EXPECT_NE(drv.Initial(320, 5, 0, 0), 0);
    EXPECT_TRUE(drv.libraryOpened());
    drv.QueryBuf();
    drv.StopIntr();
    drv.GetLastADError();
    EXPECT_EQ(gDlopenCalls, before + 1);
}

TEST_F(Loader, LooksUpAnEntryAtItsFirstCallAndNeverAgain)
{
    using Names = std::vector<std::string>;
    DriverLoader drv(ADCARD_SIM_LIBRARY);
    gLookups.clear();
    gCounting = true;
    EXPECT_NE(drv.Initial(320, 5, 0, 0), 0);
    EXPECT_EQ(gLookups, Names{"Initial"});
    drv.QueryBuf();
    EXPECT_EQ(gLookups, (Names{"Initial", "QueryBuf"}));
    drv.QueryBuf();
    EXPECT_NE(drv.Initial(320, 5, 0, 0), 0);
    EXPECT_EQ(gLookups, (Names{"Initial", "QueryBuf"}));
    gCounting = false;
}

TEST_F(Loader, BindsEveryEntryThePanelCallsAndPassesArgumentsThrough)
{
    DriverLoader drv(ADCARD_SIM_LIBRARY);
    ASSERT_NE(drv.Initial(320, 5, 0, 0), 0);
    // Each argument in its place: a bad value in one position gives that position's code.
    EXPECT_EQ(drv.StartIntr(10, 0, 0, 4, 10000, 0, 1), 0);
    EXPECT_EQ(drv.GetLastADError(), 3);
    EXPECT_EQ(drv.StartIntr(10, 1000, 0, 0, 10000, 0, 1), 0);
    EXPECT_EQ(drv.GetLastADError(), 2);
    EXPECT_EQ(drv.StartIntr(10, 1000, 0, 4, 0, 0, 1), 0);
    EXPECT_EQ(drv.GetLastADError(), 4);

    ASSERT_NE(drv.StartIntr(10, 1000, 0, 4, 10000, 0, 1), 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (drv.QueryBuf() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<int16_t> buf(4002, kGuard);
    ASSERT_EQ(drv.ADResult(buf.data()), 1);
    EXPECT_EQ(buf.front(), kGuard);
    EXPECT_EQ(buf.back(), kGuard);
    EXPECT_TRUE(std::none_of(buf.begin() + 1, buf.end() - 1, [](int16_t v) { return v == kGuard; }));

    ASSERT_NE(drv.Tvo_DO(0, 0xC3), 0);
    int16_t states[2] = {0, 0};
    ASSERT_NE(drv.Tvo_DI(2, states), 0);
    EXPECT_EQ(states[0], 0xC3);
    EXPECT_NE(drv.StopIntr(), 0);
    EXPECT_EQ(drv.failures(), "");
}

TEST(DriverLibrary, ExportsAllSeventeenEntries)
{
    void *h = ::dlopen(ADCARD_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << ::dlerror();
    for (const auto &e : kEntries)
        EXPECT_NE(::dlsym(h, std::string(e.linuxName).c_str()), nullptr) << e.linuxName;
}

struct CallRow {
    const char *name;
    std::function<int32_t(DriverLoader &, int16_t *)> call;
};

static const std::vector<CallRow> kCalls{
    {"Initial", [](DriverLoader &d, int16_t *) { return d.Initial(320, 5, 0, 0); }},
    {"StartIntr", [](DriverLoader &d, int16_t *) { return d.StartIntr(10, 1000, 0, 4, 10000, 0, 1); }},
    {"StopIntr", [](DriverLoader &d, int16_t *) { return d.StopIntr(); }},
    {"QueryBuf", [](DriverLoader &d, int16_t *) { return int32_t{d.QueryBuf()}; }},
    {"ADResult", [](DriverLoader &d, int16_t *b) { return d.ADResult(b); }},
    {"Tvo_DI", [](DriverLoader &d, int16_t *b) { return int32_t{d.Tvo_DI(2, b)}; }},
    {"Tvo_DO", [](DriverLoader &d, int16_t *) { return int32_t{d.Tvo_DO(0, 1)}; }},
};

class MissingLibrary : public testing::TestWithParam<CallRow> {};

TEST_P(MissingLibrary, FailsQuietlyAndReportsOnceWhicheverCallComesFirst)
{
    DriverLoader drv(kMissing);
    std::vector<DriverFailure> details;
    drv.setFailureSink([&](const DriverFailure &f) { details.push_back(f); });
    std::vector<int16_t> buf(8, kGuard);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetParam().call(drv, buf.data()), 0);
    EXPECT_EQ(drv.GetLastADError(), code(PanelError::DriverUnavailable));
    for (const auto &row : kCalls) {
        EXPECT_EQ(row.call(drv, buf.data()), 0) << row.name;
        EXPECT_EQ(drv.GetLastADError(), code(PanelError::DriverUnavailable)) << row.name;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find(kMissing), std::string::npos) << err;
    ASSERT_EQ(details.size(), 1u);
    EXPECT_EQ(details[0].kind, DriverFailure::Kind::Library);
    EXPECT_EQ(details[0].library, kMissing);
    EXPECT_EQ(details[0].entry, "");
    EXPECT_NE(details[0].reason.find("No such file"), std::string::npos) << details[0].reason;
    EXPECT_EQ(details[0].line + "\n", err);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](int16_t v) { return v == kGuard; }));
    EXPECT_FALSE(drv.libraryOpened());
}

INSTANTIATE_TEST_SUITE_P(FirstCall, MissingLibrary, testing::ValuesIn(kCalls), kRowName);

TEST(MissingEntry, FailsOnlyThatEntryAndNamesItOnce)
{
    DriverLoader drv(ADCARD_PARTIAL_LIBRARY);
    std::vector<DriverFailure> details;
    drv.setFailureSink([&](const DriverFailure &f) { details.push_back(f); });
    testing::internal::CaptureStderr();
    EXPECT_EQ(drv.Initial(320, 5, 0, 0), 1);
    EXPECT_EQ(drv.GetLastADError(), 7) << "the driver's own code";
    EXPECT_EQ(drv.Tvo_DO(0, 1), 0);
    EXPECT_EQ(drv.GetLastADError(), code(PanelError::DriverUnavailable));
    EXPECT_EQ(drv.Tvo_DO(1, 2), 0);
    int16_t states[2] = {0, 0};
    EXPECT_EQ(drv.Tvo_DI(2, states), 1);
    EXPECT_EQ(states[1], 0x22);
    EXPECT_EQ(drv.GetLastADError(), 7) << "a bound call ends the loader's own failure";
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("Tvo_DO"), std::string::npos) << err;
    EXPECT_NE(err.find("_Tvo_DO@8"), std::string::npos) << err;
    ASSERT_EQ(details.size(), 1u);
    EXPECT_EQ(details[0].kind, DriverFailure::Kind::Entry);
    EXPECT_EQ(details[0].library, ADCARD_PARTIAL_LIBRARY);
    EXPECT_EQ(details[0].entry, "Tvo_DO");
    EXPECT_EQ(details[0].decoratedEntry, "_Tvo_DO@8");
    EXPECT_EQ(details[0].line + "\n", err);
    EXPECT_TRUE(drv.libraryOpened());
}

// The example driver of docs/driver.md through the real loader, as the panel calls it.
TEST(ExampleDriver, MeetsThePanelsCallsThroughTheLoader)
{
    DriverLoader drv(ADCARD_EXAMPLE_LIBRARY);
    EXPECT_EQ(drv.QueryBuf(), 0) << "nothing waits before a start";
    ASSERT_NE(drv.Initial(320, 5, 0, 0), 0);
    EXPECT_EQ(drv.StartIntr(10, 0, 0, 4, 10000, 0, 1), 0);
    EXPECT_EQ(drv.GetLastADError(), 1);
    ASSERT_NE(drv.StartIntr(10, 1000, 0, 4, 10000, 0, 1), 0);
    ASSERT_EQ(drv.QueryBuf(), 1);
    std::vector<int16_t> buf(4002, kGuard);
    ASSERT_EQ(drv.ADResult(buf.data()), 1);
    EXPECT_EQ(buf[0], kGuard);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(buf[4000], 4000);
    EXPECT_EQ(buf[4001], kGuard);

    drv.Tvo_DO(1, 0x5A);
    int16_t states[2] = {0, 0};
    drv.Tvo_DI(2, states);
    EXPECT_EQ(states[1], 0x5A);
    drv.StopIntr();
    EXPECT_EQ(drv.QueryBuf(), 0);
    EXPECT_EQ(drv.ADResult(buf.data()), 0);
    EXPECT_EQ(drv.failures(), "") << "every entry the panel calls is there";
}

// The panel's own codes share the "Error=" caption with the driver's, so no
// two may be equal, and each needs a text for docs/driver.md and the tooltip.
TEST(OwnErrorCodes, EveryCodeIsNegativeDistinctAndHasAText)
{
    std::set<int32_t> seen;
    for (PanelError e : kPanelErrors) {
        EXPECT_LT(code(e), 0);
        EXPECT_TRUE(seen.insert(code(e)).second) << code(e);
        EXPECT_FALSE(panelErrorText(e).empty()) << code(e);
    }
}
