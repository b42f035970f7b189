// Three deliberately odd driver libraries for the fault tests, built from
// this one source:
//   ADPANEL_WITHOUT_STARTINTR: a driver that lacks the StartIntr entry.
//   ADPANEL_WIDE_QUERYBUF:     a driver whose QueryBuf leaves 0x10000 in the
//                              32-bit return register; only the low 16 bits
//                              are the result, so the panel must see 0.
//   ADPANEL_SCRIBBLER:         a driver whose ADResult writes on far past the
//                              buffer it was given, until it crashes.
#include "driver/adcard.h"

#include <cstdint>
#include <cstdlib>

#define ENTRY extern "C" __attribute__((visibility("default")))

ENTRY int32_t Initial(int32_t, int32_t, int32_t, int32_t) { return 1; }
ENTRY int32_t StopIntr() { return 1; }
ENTRY int32_t GetLastADError() { return 5; }
ENTRY int16_t Tvo_DO(int16_t, int16_t) { return 1; }

#ifndef ADPANEL_WITHOUT_STARTINTR
ENTRY int32_t StartIntr(int16_t, int32_t, int16_t, int16_t, int32_t, int32_t, int16_t) { return 1; }
#endif

#ifdef ADPANEL_WIDE_QUERYBUF
// Exported as QueryBuf, but with a wider result than the contract's, which
// is why it needs a C++ name of its own. A closed driver carries no type
// for clang's function sanitizer to check the call against; nor does this.
#if defined(__clang__)
#define UNTYPED __attribute__((no_sanitize("function")))
#else
#define UNTYPED
#endif
ENTRY int32_t wideQueryBuf() __asm__("QueryBuf");
UNTYPED int32_t wideQueryBuf() { return 0x10000; }
// Reaching either of these means the upper bits were taken for a count.
ENTRY int32_t ADResult(int16_t *) { std::abort(); }
ENTRY int16_t Tvo_DI(int32_t, int16_t *) { std::abort(); }
#elif defined(ADPANEL_SCRIBBLER)
ENTRY int16_t QueryBuf() { return 1; }
ENTRY int32_t ADResult(int16_t *buffer)
{
    volatile int16_t *p = buffer;
    for (int32_t i = 0; i < (1 << 30); ++i)
        p[i] = 0x5A5A;
    return 1;
}
ENTRY int16_t Tvo_DI(int32_t, int16_t *) { return 1; }
#else
ENTRY int16_t QueryBuf() { return 0; }
ENTRY int32_t ADResult(int16_t *) { return 0; }
ENTRY int16_t Tvo_DI(int32_t, int16_t *states)
{
    states[0] = 0;
    states[1] = 0;
    return 1;
}
#endif
