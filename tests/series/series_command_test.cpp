// adcard-review given a folder, a file of a series or several of its files
// prints what it prints for one file holding the same blocks.
#include "series_maker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <sys/wait.h>

using namespace adcard;
using namespace adcard::seriestest;

namespace {

struct Ran {
    std::string out;
    int status = -1;
};

Ran review(const std::string &args, bool withErrors = false)
{
    Ran r;
    const std::string command = std::string(ADCARD_REVIEW) + " " + args + (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE *p = ::popen(command.c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        r.out.append(buf, n);
    r.status = p ? WEXITSTATUS(::pclose(p)) : -1;
    return r;
}

[[maybe_unused]] ::testing::Environment *const kRemoveScratch = ::testing::AddGlobalTestEnvironment(new RemoveScratch);

const std::string &madeDir()
{
    static const std::string dir = [] {
        const std::string d = scratch("command");
        Shape s;
        s.leftOut = {1};
        make(s, d + "/parts", d + "/one.h5");
        return d;
    }();
    return dir;
}

struct CommandRow {
    const char *name, *args;
};

void PrintTo(const CommandRow &r, std::ostream *os)
{
    *os << r.name << ' ' << r.args;
}

class SeriesCommand : public ::testing::TestWithParam<CommandRow> {};

TEST_P(SeriesCommand, PrintsWhatTheOneFilePrints)
{
    const std::string d = madeDir();
    const std::string args = GetParam().args;
    const Ran one = review(std::string(GetParam().name) + " " + d + "/one.h5 " + args);
    ASSERT_EQ(one.status, 0) << one.out;
    for (const std::string &as : {d + "/parts", d + "/parts/rec_20251206-100300.h5",
                                  d + "/parts/rec_20251206-100000.h5 " + d + "/parts/rec_20251206-100200.h5 " + d +
                                      "/parts/rec_20251206-100300.h5"}) {
        const Ran series = review(std::string(GetParam().name) + " " + as + " " + args);
        EXPECT_EQ(series.status, 0) << as;
        EXPECT_EQ(series.out, one.out) << as;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesCommand,
    ::testing::Values(CommandRow{"stats", "--json"}, CommandRow{"stats", "--from 5 --to 20"},
                      CommandRow{"search", "--channel 1 --above 4.7"},
                      CommandRow{"search", "--channel 2 --below -1 --hysteresis 0.5 --json"},
                      CommandRow{"peaks", "--channel 1 --count 4 --apart 1"}, CommandRow{"changes", "--port 1 --bit 3"},
                      CommandRow{"losses", "--json"}, CommandRow{"events", "--limit 4"}),
    [](const auto &info) { return "row" + std::to_string(info.index) + "_" + info.param.name; });

struct RefusalRow {
    const char *name, *args, *says;
};

void PrintTo(const RefusalRow &r, std::ostream *os)
{
    *os << r.name;
}

class SeriesRefusal : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(SeriesRefusal, NamesWhatIsWrong)
{
    const std::string d = madeDir();
    std::string args = GetParam().args;
    for (std::size_t at; (at = args.find("DIR")) != std::string::npos;)
        args.replace(at, 3, d);
    const Ran r = review(args, true);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find(GetParam().says), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesRefusal,
    ::testing::Values(RefusalRow{"unknown_series", "stats DIR/parts --series 0badc0de", "no series 0badc0de"},
                      RefusalRow{"plain_file_with_series", "stats DIR/one.h5 --series x", "is not a file of a series"},
                      RefusalRow{"folder_without_series", "stats DIR", "no file of a series found"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SeriesCommandNotes, NameTheMissingFile)
{
    const Ran r = review("info " + madeDir() + "/parts", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("note: run 1: the file of place 1 missing"), std::string::npos) << r.out;
}

} // namespace
