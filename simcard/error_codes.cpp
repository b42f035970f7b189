#include "simcard/error_codes.h"

namespace adcard::sim {

std::string_view simErrorText(SimError e)
{
    switch (e) {
    case SimError::None:
        return "no failure";
    case SimError::NotInitialised:
        return "the card has not been initialised";
    case SimError::BadChannelCount:
        return "the channel count must lie between 1 and 32";
    case SimError::BadScanCount:
        return "the scans per block must be at least 1";
    case SimError::BadRate:
        return "the scan rate must be positive";
    case SimError::BlockTooLarge:
        return "channels times scans per block exceeds the 32-bit buffer range";
    case SimError::QueueTooLarge:
        return "the block queue would exceed the card's buffer memory";
    case SimError::OutOfMemory:
        return "no memory for the block queue";
    case SimError::NullBuffer:
        return "a null buffer address was passed";
    case SimError::NoBlockWaiting:
        return "no filled block is waiting";
    case SimError::TransferFailed:
        return "the block transfer failed and the block was lost";
    case SimError::BadDICount:
        return "the digital input count must be 2";
    case SimError::BadDOGroup:
        return "the digital output group must be 0 or 1";
    case SimError::BadDOValue:
        return "the digital output value must lie between 0 and 255";
    }
    return {};
}

} // namespace adcard::sim
