// A driver library that lacks Tvo_DO, for the loader's missing-entry path.
// The other entries answer fixed values the tests recognise.
#include "driver/adcard.h"

#include <cstdint>

#define ENTRY extern "C" __attribute__((visibility("default")))

ENTRY int32_t Initial(int32_t, int32_t, int32_t, int32_t) { return 1; }
ENTRY int32_t StartIntr(int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t) { return 1; }
ENTRY int32_t StopIntr() { return 1; }
ENTRY int16_t QueryBuf() { return 0; }
ENTRY int32_t ADResult(int16_t *) { return 0; }
ENTRY int32_t GetLastADError() { return 7; }
ENTRY int16_t Tvo_DI(int32_t, int16_t *states)
{
    states[0] = 0x11;
    states[1] = 0x22;
    return 1;
}
