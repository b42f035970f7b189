// The acquisition on the simulated card, with the recorder as its block hook:
// every block the panel fetched is in the file, in order, as the card's
// generator made it.
#include "acquisition/acquisition.h"
#include "driver/loader.h"
#include "simcard/block_generator.h"
#include "tests/recording/recording_support.h"
#include "tests/support/fake_view.h"
#include "tests/support/row_name.h"

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

namespace adcard::testing {
namespace {

using ::PrintTo; // rows print as their names

using namespace std::chrono_literals;

struct E2eRow {
    const char *name;
    int failEvery; // ADCARD_SIM_FAIL_ADRESULT_EVERY, 0 for none
};

class RecordingEndToEnd : public ::testing::TestWithParam<E2eRow> {
protected:
    void TearDown() override
    {
        for (const char *k : {"ADCARD_SIM_SEQUENCE", "ADCARD_SIM_SPEED", "ADCARD_SIM_SEED", "ADCARD_SIM_NOISE",
                              "ADCARD_SIM_QUEUE", "ADCARD_SIM_STATS", "ADCARD_SIM_FAIL_ADRESULT_EVERY"})
            ::unsetenv(k);
    }
};

TEST_P(RecordingEndToEnd, EveryFetchedBlockIsInTheFileInOrder)
{
    const E2eRow &row = GetParam();
    const std::string dir = scratchDir(std::string("rec-e2e-") + row.name);
    const std::string path = dir + "/a.h5";
    const std::string stats = dir + "/stats.txt";
    // A queue deep enough that the card never overruns, so fetch k gets block k.
    const std::map<std::string, std::string> env = {
        {"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_SEED", "11"},
        {"ADCARD_SIM_NOISE", "3"},    {"ADCARD_SIM_QUEUE", "4096"}, {"ADCARD_SIM_STATS", stats},
        {"ADCARD_SIM_FAIL_ADRESULT_EVERY", row.failEvery ? std::to_string(row.failEvery) : ""}};
    for (const auto &[k, v] : env)
        ::setenv(k.c_str(), v.c_str(), 1);

    DriverLoader loader(ADCARD_SIM_LIBRARY);
    DllDef dll(loader);
    FakeView view;
    Acquisition acq(dll, view);
    Recorder rec;
    acq.addBlockHook(rec);
    acq.onLoad();
    ASSERT_EQ(rec.arm(path, false, {loader.libraryPath(), "e2e"}), "");
    acq.onStart();
    ASSERT_TRUE(view.timer);
    // About 20 s of card time.
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (acq.BlockCount < 200 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
        acq.onTick();
    }
    acq.onStop();
    rec.stop();
    acq.removeBlockHook(rec);
    ASSERT_GE(acq.BlockCount, 200);

    std::map<std::string, long long> card;
    std::ifstream in(stats);
    for (std::string k; in >> k;)
        in >> card[k];
    ASSERT_EQ(card["overruns"], 0);
    ASSERT_EQ(card["delivered"] + card["discarded"], acq.BlockCount);

    const RecorderStatus st = rec.status();
    EXPECT_EQ(st.state, RecorderState::Idle) << st.lastError;
    Reader r(path);
    ASSERT_EQ(r.runs(), 1u);
    const RunData d = r.read(1);
    EXPECT_EQ(r.text("driver_library"), loader.libraryPath());
    EXPECT_EQ(r.runValue(1, "missed"), card["discarded"]);
    // A block the recorder had to drop (a slow disk) is a hole too, counted.
    EXPECT_EQ(int64_t(d.rows.size()) + st.blocksDropped, card["delivered"]);
    EXPECT_EQ(r.runValue(1, "dropped"), st.blocksDropped);

    sim::SimBlockParams p;
    p.seed = 11;
    p.noise = 3;
    p.stampSequence = true;
    std::vector<int16_t> want(4000);
    int64_t next = 0;
    int64_t dropHoles = 0;
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
        const int64_t index = d.rows[i].index;
        ASSERT_GE(index, next) << "row " << i;
        for (; next < index; ++next) // every hole is a failed fetch or a counted drop
            dropHoles += !(row.failEvery && (next + 1) % row.failEvery == 0);
        ++next;
        EXPECT_FALSE(row.failEvery && (index + 1) % row.failEvery == 0) << "block " << index << " failed to fetch";
        sim::generateBlock(p, static_cast<uint64_t>(index), want);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), d.samples.begin() + std::ptrdiff_t(i * 4000)))
            << "block " << index;
        EXPECT_LE(d.rows[i].blockCount, acq.BlockCount);
    }
    EXPECT_EQ(dropHoles, st.blocksDropped);
    ASSERT_FALSE(d.rows.empty());
    EXPECT_EQ(d.rows.back().blockCount, acq.BlockCount);
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordingEndToEnd,
                         ::testing::Values(E2eRow{"every_block", 0}, E2eRow{"every_seventh_fails", 7}), kRowName);

} // namespace
} // namespace adcard::testing
