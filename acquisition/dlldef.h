#pragma once
// Program-wide acquisition state: the settings handed to the driver, the block
// buffer, the history ring and its write position, and the driver itself.
// One instance is created by main and handed to the window; tests make their own.
#include "driver/card_driver.h"

#include <cstdint>
#include <vector>

namespace adcard {

struct AcqSettings {
    int16_t IntrArg1 = 0;
    int32_t ScansPerBlock = 0;
    int16_t IntrArg3 = 0;
    int16_t ChannelCount = 0;
    int32_t IntrArg5 = 0;
    int32_t IntrArg6 = 0;
    int16_t IntrArg7 = 0;
    int16_t RingBlocks = 0;
};

struct DllDef {
    explicit DllDef(CardDriver &drv) : driver(drv) {}

    CardDriver &driver;
    AcqSettings settings;
    std::vector<int16_t> BlockBuf;    // indices 0 .. BlockSamples + 1
    std::vector<int16_t> HistoryRing; // indices 0 .. BlockSamples * RingBlocks
    int32_t RingPos = 0;
};

} // namespace adcard
