#pragma once
// The amplitude spectrum of a range of a recorded run, channel by channel,
// through FFTW: a Hann window over the longest stretch without a hole.
#include "query/query.h"
#include "query/transform.h"

namespace adcard::query {

struct SpectrumQuery {
    std::vector<int> channels; // from 0; empty: all
    int64_t first = 0, end = kWholeRun;
    // Makes the transform (FFTW's, see transform.h); without one the
    // spectrum fails.
    MakeTransformFn transform = nullptr;
};

struct ChannelSpectrum {
    int channel = 0;
    // In the channel's unit (volts unless the run names another), peak
    // amplitude; bin k at k * resolution Hz, from 0 to half the rate.
    std::vector<float> amplitude;
    // The stretch's mean (its DC level), in the unit. A Hann window spreads
    // it over bins 0 and 1 only, so the peak is the highest bin from 2 on:
    // an offset (a pressure, a temperature) is never taken for a tone.
    double dc = 0;
    double peakHz = 0, peak = 0; // 0 and 0 with fewer than three bins
};

struct SpectrumResult : Status {
    // The stretch used, [first, first + scans) (Status::first): its start,
    // as long as has no prime factor beyond 7 (a transform of such a length
    // is fast), which leaves out less than a percent of a long stretch.
    int64_t scans = 0;
    bool hole = false;        // the range asked for holds a hole: only its longest whole stretch was used
    bool shortened = false;   // longer than kMaxSpectrumScans: its start used
    double resolutionHz = 0;  // rate / scans; 0 where the rate is unknown (bins per scan then)
    std::vector<ChannelSpectrum> channels;
};

inline constexpr int64_t kMaxSpectrumScans = int64_t{1} << 24;

SpectrumResult spectrum(const RecordedRun &run, const SpectrumQuery &q, const Control &control = {});

// Amplitude in dB relative to one of its unit (dBV for volts); -200 for
// nothing at all.
double dbv(double volts);

} // namespace adcard::query
