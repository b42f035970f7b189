#pragma once
// GMock stand-in for the card driver: tests state the order and the
// arguments of driver calls directly.
#include "driver/card_driver.h"

#include <gmock/gmock.h>

namespace adcard::testing {

class MockDriver : public CardDriver {
public:
    MOCK_METHOD(int32_t, Initial, (int32_t, int32_t, int32_t, int32_t), (override));
    MOCK_METHOD(int32_t, StartIntr, (int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t),
                (override));
    MOCK_METHOD(int32_t, StopIntr, (), (override));
    MOCK_METHOD(int16_t, QueryBuf, (), (override));
    MOCK_METHOD(int32_t, ADResult, (int16_t *), (override));
    MOCK_METHOD(int32_t, GetLastADError, (), (override));
    MOCK_METHOD(int16_t, Tvo_DI, (int32_t, int16_t *), (override));
    MOCK_METHOD(int16_t, Tvo_DO, (int16_t, int16_t), (override));
};

} // namespace adcard::testing
