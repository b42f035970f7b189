#pragma once
// GMock observer of the acquisition's data.
#include "acquisition/block_hook.h"

#include <gmock/gmock.h>

namespace adcard::testing {

class MockHook : public BlockHook {
public:
    MOCK_METHOD(void, historyStarted, (const AcqSettings &), (override));
    MOCK_METHOD(void, acquisitionStarted, (const AcqSettings &), (override));
    MOCK_METHOD(void, blockStored, (const StoredBlock &), (override));
    MOCK_METHOD(void, blockMissed, (int64_t), (override));
    MOCK_METHOD(void, tickEnded, (const TickSummary &), (override));
    MOCK_METHOD(void, acquisitionStopped, (StopReason), (override));
};

} // namespace adcard::testing
