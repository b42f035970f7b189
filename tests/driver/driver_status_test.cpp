// Which library the status names as the simulated card.
#include "driver/driver_status.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names

struct SimRow {
    const char *name;
    const char *path;
    bool simulated;
};

class SimulatedCard : public ::testing::TestWithParam<SimRow> {};

TEST_P(SimulatedCard, IsToldByItsFolder)
{
    EXPECT_EQ(isSimulatedCard(GetParam().path), GetParam().simulated);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimulatedCard,
    ::testing::Values(SimRow{"installed", "/usr/local/lib/x86_64-linux-gnu/adcard-sim/libadcard.so", true},
                      SimRow{"build_tree", "/src/build/default/simcard/libadcard.so", true},
                      SimRow{"system_driver", "/usr/local/lib/libadcard.so", false},
                      SimRow{"sim_in_file_name_only", "/opt/simcard-tools/lib/libadcard.so", false}),
    kRowName);

} // namespace
} // namespace adcard
