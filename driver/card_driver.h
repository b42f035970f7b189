#pragma once
// The eight driver entries the panel calls, typed as the card's contract
// types them. The loader implements this against the real library; tests
// implement it with a mock.
#include <cstdint>

namespace adcard {

class CardDriver {
public:
    virtual ~CardDriver() = default;

    virtual int32_t Initial(int32_t a, int32_t b, int32_t c, int32_t d) = 0;
    virtual int32_t StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3,
                              int16_t channelCount, int32_t arg5, int32_t arg6,
                              int16_t arg7) = 0;
    virtual int32_t StopIntr() = 0;
    virtual int16_t QueryBuf() = 0;
    // `buffer` is the address of element 0 of the block buffer.
    virtual int32_t ADResult(int16_t *buffer) = 0;
    virtual int32_t GetLastADError() = 0;
    // `states` is the address of element 0 of the input-state array.
    virtual int16_t Tvo_DI(int32_t count, int16_t *states) = 0;
    virtual int16_t Tvo_DO(int16_t group, int16_t value) = 0;
};

} // namespace adcard
