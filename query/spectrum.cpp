#include "query/spectrum.h"

#include "query/pyramid_walk.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace adcard::query {

namespace {

// The longest stretch of [first, end) without a hole.
std::pair<int64_t, int64_t> longestWhole(const RecordedRun &run, int64_t first, int64_t end, bool &hole)
{
    int64_t total = 0;
    const auto gaps = run.gaps(first, end, 100000, total);
    hole = total > 0;
    std::pair<int64_t, int64_t> best{first, first};
    int64_t at = first;
    auto consider = [&](int64_t a, int64_t b) {
        if (b - a > best.second - best.first)
            best = {a, b};
    };
    for (const ScanGap &g : gaps) {
        consider(at, g.first);
        at = g.end;
    }
    consider(at, end);
    return best;
}

// The largest length not above `n` with no prime factor beyond 7, which
// FFTW transforms fastest; within a fraction of a percent of n from a few
// thousand on.
int64_t smoothLength(int64_t n)
{
    for (int64_t m = n; m > 1; --m) {
        int64_t r = m;
        for (int64_t p : {2, 3, 5, 7})
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return m;
    }
    return n;
}

// 0.5 - 0.5 cos(2 pi i / n): the cosine by rotation, exact again every
// few thousand steps, each half mirrored from the other.
std::vector<double> hann(std::size_t n)
{
    std::vector<double> w(n);
    const double step = 2 * std::numbers::pi / double(n);
    const double c1 = std::cos(step), s1 = std::sin(step);
    double c = 1, s = 0;
    for (std::size_t i = 0; i <= n / 2; ++i) {
        if (i % 4096 == 0) {
            c = std::cos(step * double(i));
            s = std::sin(step * double(i));
        }
        w[i] = 0.5 - 0.5 * c;
        if (i > 0)
            w[n - i] = w[i];
        const double next = c * c1 - s * s1;
        s = s * c1 + c * s1;
        c = next;
    }
    return w;
}

} // namespace

double dbv(double volts)
{
    return volts > 0 ? std::max(-200.0, 20 * std::log10(volts)) : -200.0;
}

namespace {

// Every scan of [out.first, out.end), channel after channel within each;
// out says why when they could not all be read.
std::vector<int16_t> readStretch(const RecordedRun &run, SpectrumResult &out, const Control &control)
{
    const int ch = run.channels();
    std::vector<int16_t> codes(std::size_t(out.scans) * std::size_t(ch));
    int64_t got = 0;
    for (int64_t a = out.first; a < out.end && !control.cancelled(); a += int64_t{1} << 18)
        run.readScans(a, std::min(out.end, a + (int64_t{1} << 18)), [&](int64_t at, const int16_t *c, int64_t n) {
            std::copy(c, c + n * ch, codes.begin() + (at - out.first) * ch);
            got += n;
            return true;
        });
    finish(run, !control.cancelled(), out);
    if (out.outcome == Outcome::Complete && got != out.scans) {
        out.outcome = Outcome::Failed;
        out.error = "scans of the range could not be read";
    }
    return codes;
}

// Bins that the DC's Hann lobe reaches: 0 and 1 (the periodic window's
// transform is zero beyond them).
constexpr std::size_t kDcBins = 2;

// Each channel's windowed amplitude spectrum, in its unit, its DC level and
// its peak outside the DC's lobe.
void transformEach(const RecordedRun &run, const std::vector<int> &channels, const std::vector<int16_t> &codes,
                   RealTransform &fft, SpectrumResult &out)
{
    const std::size_t ch = std::size_t(run.channels());
    const double n = double(out.scans);
    const double rate = run.scansPerSecond();
    out.resolutionHz = rate > 0 ? rate / n : 0;
    const std::vector<double> window = hann(std::size_t(out.scans));
    double gain = 0;
    for (double w : window)
        gain += w;
    for (int c : channels) {
        double *in = fft.in();
        const Calibration cal = run.info().channelCalibration(c);
        int64_t sum = 0;
        for (std::size_t i = 0; i < window.size(); ++i) {
            const int16_t code = codes[i * ch + std::size_t(c)];
            sum += code;
            in[i] = cal.volts(code) * window[i];
        }
        ChannelSpectrum s;
        s.channel = c;
        s.dc = cal.volts(double(sum) / n);
        s.amplitude = fft.amplitudes(gain);
        if (s.amplitude.size() > kDcBins) {
            const auto peak = std::max_element(s.amplitude.begin() + kDcBins, s.amplitude.end());
            s.peakHz = double(peak - s.amplitude.begin()) * (rate > 0 ? out.resolutionHz : 1.0 / n);
            s.peak = *peak;
        }
        out.channels.push_back(std::move(s));
    }
}

} // namespace

SpectrumResult spectrum(const RecordedRun &run, const SpectrumQuery &q, const Control &control)
{
    SpectrumResult out;
    int64_t first = q.first, end = q.end;
    clampRange(run, first, end, out);
    std::vector<int> channels = q.channels;
    if (channels.empty())
        for (int c = 0; c < run.channels(); ++c)
            channels.push_back(c);
    for (int c : channels)
        if (!channelExists(run, c, out))
            return out;
    std::tie(first, end) = longestWhole(run, first, end, out.hole);
    out.shortened = end - first > kMaxSpectrumScans;
    end = first + smoothLength(std::min(end - first, kMaxSpectrumScans));
    out.first = first;
    out.end = end;
    out.scans = end - first;
    if (out.scans < 2) {
        out.outcome = Outcome::Failed;
        out.error = "fewer than two scans in the range";
        return out;
    }
    const std::vector<int16_t> codes = readStretch(run, out, control);
    if (out.outcome != Outcome::Complete)
        return out;
    const std::unique_ptr<RealTransform> fft(q.transform ? q.transform(out.scans) : nullptr);
    if (!fft) {
        out.outcome = Outcome::Failed;
        out.error = q.transform ? "no memory for a transform of " + std::to_string(out.scans) + " scans"
                                : "no transform at hand";
        return out;
    }
    transformEach(run, channels, codes, *fft, out);
    return out;
}

} // namespace adcard::query
