#pragma once
// An amplitude spectrum drawn without widgets: each channel's bins against
// frequency (linear, or logarithmic from the first bin), amplitude in the
// channel's unit or in dB relative to one of it ("dB re 1 bar", dBV for
// volts), the highest peaks marked and the harmonics of the highest. The
// widget around it and the tests ask it where a bin is drawn and which bin
// lies under a point, from the same arithmetic that draws.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class QPainter;

namespace adcard {

struct SpectrumTrace {
    int channel = 0;
    QString name;          // as the window names the channel
    std::string unit = "V";
    std::vector<float> amplitude; // bin k at k * binHz, peak amplitude in the unit
};

struct SpectrumMark {
    int channel = 0;
    std::size_t bin = 0;
    int harmonic = 1; // 1: one of the highest peaks; n >= 2: the n-th harmonic of the highest
};

// "dBV" for volts, else "dB re 1 bar" as instruments write a level
// relative to one of a unit.
QString dbUnit(const std::string &unit);
// 20 log10(a), -200 for nothing.
double toDb(double amplitude);

// The `count` highest local maxima of `a` from bin `from` on, highest first;
// a maximum is a bin above both neighbours (or level with the one before),
// so that one crest is listed once.
std::vector<std::size_t> highestPeaks(const std::vector<float> &a, std::size_t from, std::size_t count);
// The bins of the 2nd .. `most`-th harmonics of bin `fundamental`: each the
// highest within a bin of its multiple (never the one before's); none past
// the last bin.
std::vector<std::size_t> harmonicBins(const std::vector<float> &a, std::size_t fundamental, int most);

class SpectrumPlot {
public:
    // Bins `binHz` apart (Hz, or cycles per scan where the rate is unknown,
    // `frequencyUnit` then saying so). The DC's window lobe (the first
    // `dcBins` bins) is no peak.
    void setTraces(std::vector<SpectrumTrace> traces, double binHz, QString frequencyUnit = QStringLiteral("Hz"),
                   std::size_t dcBins = 2);
    const std::vector<SpectrumTrace> &traces() const { return traces_; }
    double binHz() const { return binHz_; }
    void setDb(bool on);
    bool db() const { return db_; }
    void setLogFrequency(bool on);
    bool logFrequency() const { return log_; }
    // dB is the only scale for traces in different units.
    bool mixedUnits() const;
    bool shownInDb() const { return db_ || mixedUnits(); }

    QRect plotRect(const QRect &area) const;
    // Where bin k of a trace is drawn; the bin nearest x.
    double xOfBin(std::size_t bin, const QRect &plot) const;
    std::optional<std::size_t> binAt(double x, const QRect &plot) const;
    int yOf(double amplitude, const QRect &plot) const; // in the axis' scale (unit or dB)
    // The value shown for an amplitude: itself, or dB.
    double shown(double amplitude) const { return shownInDb() ? toDb(amplitude) : amplitude; }
    // The amplitude axis: its lowest and highest value, and its name.
    double bottom() const { return bottom_; }
    double top() const { return top_; }
    QString amplitudeName() const;
    std::vector<SpectrumMark> marks() const;

    void render(QPainter &p, const QRect &area) const;
    QImage renderImage(const QSize &size) const;

private:
    void fitAmplitude();
    void drawAxes(QPainter &p, const QRect &area, const QRect &r) const;
    void drawTrace(QPainter &p, const QRect &r, const SpectrumTrace &t, const QColor &colour) const;
    void drawMarks(QPainter &p, const QRect &r) const;
    std::size_t firstBin() const { return log_ ? 1 : 0; }
    std::size_t bins() const;

    std::vector<SpectrumTrace> traces_;
    double binHz_ = 1;
    QString frequencyUnit_ = QStringLiteral("Hz");
    std::size_t dcBins_ = 2;
    bool db_ = true;
    bool log_ = false;
    mutable double bottom_ = 0, top_ = 1;
};

} // namespace adcard
