/* The card driver library's entries, as libadcard.so exports them on Linux:
 * plain C names, the default calling convention, every argument in its own
 * 32-bit slot. This is the one place where their signatures are written: the
 * panel's loader, the simulated card and every test driver include it, so a
 * driver that disagrees fails to compile.
 *
 * Every call comes from the panel's UI thread, one at a time. The card fills
 * blocks on its own between calls; it shares memory with the panel only
 * through the buffers handed over in a call, and only during that call.
 */
#ifndef ADCARD_H
#define ADCARD_H

#include <stdint.h>

/* The card's Windows DLL uses the stdcall convention (its exports carry the
 * decorated names, _Initial@16 and so on); on Linux the default convention. */
#if defined(_WIN32)
#define ADCARD_CALL __stdcall
#else
#define ADCARD_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Readies the card. The panel passes 320, 5, 0, 0, once when its window opens
 * (the result is not looked at) and at every Start. 0 = failure (the panel then
 * asks GetLastADError); any other value, negative ones included, = ready. */
int32_t ADCARD_CALL Initial(int32_t a, int32_t b, int32_t c, int32_t d);

/* Starts block acquisition. The panel passes 10, 1000, 0, 4, 10000, 0, 1: the
 * 2nd argument is scans per block, the 4th the channel count; the others mean
 * what the card says (the simulated card takes the 5th as scans per second).
 * Blocks of channelCount * scansPerBlock samples are then filled on the card's
 * own time. 0 = failure (the panel asks GetLastADError); other = running. */
int32_t ADCARD_CALL StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3, int16_t channelCount,
                  int32_t arg5, int32_t arg6, int16_t arg7);

/* Stops acquisition and drops waiting blocks. Called before every Start, at
 * Stop, Exit and when the window goes, so also when nothing runs and twice in
 * a row: both must be harmless. The result is never looked at. */
int32_t ADCARD_CALL StopIntr(void);

/* The number of filled blocks waiting to be fetched. Called once per timer
 * tick (every 100 ms while acquiring); only the low 16 bits count. */
int16_t ADCARD_CALL QueryBuf(void);

/* Moves the oldest waiting block into buffer[1] .. buffer[BlockSamples], scan
 * after scan (channel c of scan k at buffer[1 + k * channelCount + c]), and
 * returns 1. Anything else means no block was handed over. buffer[0] and
 * anything past buffer[BlockSamples + 1] must never be written. */
int32_t ADCARD_CALL ADResult(int16_t *buffer);

/* The code of the latest failure, asked only after Initial or StartIntr
 * returned 0. The panel shows it as "Error=<code>". */
int32_t ADCARD_CALL GetLastADError(void);

/* Fills states[0] and states[1] with digital input ports 0 and 1. The panel
 * passes count = 2 and reads nothing else; the result is not looked at. */
int16_t ADCARD_CALL Tvo_DI(int32_t count, int16_t *states);

/* Writes value (0..255) to output group `group` (the panel never passes more
 * than 1; 0, 1 or a negative number the operator typed). The result is not
 * looked at. */
int16_t ADCARD_CALL Tvo_DO(int16_t group, int16_t value);

/* Part of the card's interface, never called by the panel. A driver may export
 * them; the panel never looks them up. */
int32_t ADCARD_CALL StartSnapshot(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
int32_t ADCARD_CALL RegisterNotify(int32_t, int32_t, int32_t, int32_t, int32_t);
int32_t ADCARD_CALL ADResultRecent(int32_t);
int32_t ADCARD_CALL GetSnapshot(int32_t, int32_t, int32_t);
int32_t ADCARD_CALL ConfigInfo(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t);
int32_t ADCARD_CALL ChannelFrq(int32_t, int32_t);
int32_t ADCARD_CALL IOCtl(int32_t, int32_t, int32_t, int32_t);
int32_t ADCARD_CALL Tvo_ADResult(int32_t, int32_t);
int32_t ADCARD_CALL Tvo_Init(int32_t, int32_t, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* ADCARD_H */
