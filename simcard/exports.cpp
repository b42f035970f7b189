// The library's only exported symbols: the card's 17 entries, under their
// plain C names on Linux (adcard.map hides everything else as well), under
// the decorated stdcall names in the Windows DLL (adcard.def lists them).
#include "driver/adcard.h"
#include "simcard/card.h"

#include <cstdint>

#if defined(_WIN32)
#define ADCARD_EXPORT extern "C"
#else
#define ADCARD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
adcard::sim::SimCard &card()
{
    static adcard::sim::SimCard instance;
    return instance;
}
} // namespace

// The first argument of Initial and the arguments of StartIntr other than the
// scans per block, the channel count and the rate select hardware features
// the simulation does not have; they are accepted and ignored.
ADCARD_EXPORT int32_t ADCARD_CALL Initial(int32_t, int32_t, int32_t, int32_t) { return card().initial(); }

ADCARD_EXPORT int32_t ADCARD_CALL StartIntr(int16_t, int32_t scansPerBlock, int16_t, int16_t channelCount,
                                int32_t scanRate, int32_t, int16_t)
{
    return card().startIntr(scansPerBlock, channelCount, scanRate);
}

ADCARD_EXPORT int32_t ADCARD_CALL StopIntr() { return card().stopIntr(); }
ADCARD_EXPORT int16_t ADCARD_CALL QueryBuf() { return card().queryBuf(); }
ADCARD_EXPORT int32_t ADCARD_CALL ADResult(int16_t *buffer) { return card().adResult(buffer); }
ADCARD_EXPORT int32_t ADCARD_CALL GetLastADError() { return card().lastError(); }
ADCARD_EXPORT int16_t ADCARD_CALL Tvo_DI(int32_t count, int16_t *states) { return card().readDI(count, states); }
ADCARD_EXPORT int16_t ADCARD_CALL Tvo_DO(int16_t group, int16_t value) { return card().writeDO(group, value); }

// Entries of the card's interface that this card does not implement. Their
// argument sizes follow the interface; they do nothing and answer 0.
ADCARD_EXPORT int32_t ADCARD_CALL StartSnapshot(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                    int32_t)
{
    return 0;
}
ADCARD_EXPORT int32_t ADCARD_CALL RegisterNotify(int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL ADResultRecent(int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL GetSnapshot(int32_t, int32_t, int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL ConfigInfo(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t)
{
    return 0;
}
ADCARD_EXPORT int32_t ADCARD_CALL ChannelFrq(int32_t, int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL IOCtl(int32_t, int32_t, int32_t, int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL Tvo_ADResult(int32_t, int32_t) { return 0; }
ADCARD_EXPORT int32_t ADCARD_CALL Tvo_Init(int32_t, int32_t, int32_t) { return 0; }
