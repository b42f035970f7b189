// A minimal libadcard.so: a pretend card that always has one block of a 12-bit
// ramp waiting, with its output ports wired back to its inputs. A driver for
// a real card talks to the card where this one makes things up.
#include <adcard.h>

static int32_t samples, lastError;
static bool running;
static int16_t ports[2];

extern "C" { // a signature that differs from adcard.h is then a compile error
int32_t Initial(int32_t, int32_t, int32_t, int32_t) { running = false; return 1; }
int32_t StartIntr(int16_t, int32_t scans, int16_t, int16_t channels, int32_t, int32_t, int16_t)
{
    if (scans <= 0 || channels <= 0 || scans > 100000 / channels) {
        lastError = 1; // the panel shows it as Error=1
        return 0;
    }
    samples = scans * channels;
    running = true;
    return 1;
}
int32_t StopIntr(void) { running = false; return 1; }
int16_t QueryBuf(void) { return running ? 1 : 0; }
int32_t ADResult(int16_t *buffer) // buffer[1] .. buffer[samples]; never buffer[0]
{
    for (int32_t i = 1; running && i <= samples; ++i)
        buffer[i] = static_cast<int16_t>(i % 4096);
    return running ? 1 : 0;
}
int32_t GetLastADError(void) { return lastError; }
int16_t Tvo_DI(int32_t, int16_t *states) { states[0] = ports[0]; states[1] = ports[1]; return 1; }
int16_t Tvo_DO(int16_t group, int16_t value) { if (group == 0 || group == 1) ports[group] = value; return 1; }
}
