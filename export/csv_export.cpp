#include "export/csv_export.h"

#include "platform/local_time.h"
#include "platform/native_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <streambuf>

namespace adcard {

namespace {

// Decimals that print every scan's time exactly when the rate divides a
// power of ten (10000 scans/s: 4), else a few past the scan's own size.
int timeDecimals(double rate)
{
    for (int p = 0; p <= 9; ++p) {
        const double step = std::pow(10.0, p) / rate;
        if (std::abs(step - std::round(step)) < 1e-9)
            return p;
    }
    return std::clamp(static_cast<int>(std::ceil(std::log10(rate))) + 2, 3, 9);
}

// to_chars ignores every locale, which is the point: '.' always.
char *putFixed(char *at, char *end, double value, int decimals)
{
    return std::to_chars(at, end, value, std::chars_format::fixed, decimals).ptr;
}

// A stream buffer over a file descriptor that remembers the first write
// error, so the caller can say what the system said.
class FdBuffer final : public std::streambuf {
public:
    explicit FdBuffer(nativefile::Handle fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        if (error_ == 0)
            error_ = nativefile::writeAll(fd_, pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    nativefile::Handle fd_;
    int error_ = 0;
    std::array<char, 1 << 16> buffer_{};
};

// A header's field as a spreadsheet reads it: quoted where a name holds a
// comma or a quote.
std::string csvField(const std::string &text)
{
    if (text.find_first_of(",\"") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char ch : text)
        out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return out + '"';
}

// One comment line's text: a marker's text may hold line breaks, which would
// end the comment and start a data row.
std::string oneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char ch) { return ch == '\n' || ch == '\r'; }, ' ');
    return text;
}

std::string number(double v)
{
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::general, 12).ptr;
    return std::string(text.data(), end);
}

// The header's field for channel c.
std::string columnName(const RecordedRunInfo &info, int c, bool windowNames)
{
    if (windowNames)
        return channelLabel(info.units, c);
    const ChannelUnit u = channelUnit(info.units, c);
    return (u.name.empty() ? "channel " + std::to_string(c + 1) : u.name) + " (" + u.unit + ")";
}

// "# " lines: the run's start, how each exported column comes from the
// card's codes, and the markers within [first, last) with their time in the
// file's time column and on the clock.
std::string headerComments(const RecordedRun &run, int64_t first, int64_t last, const std::vector<int> &shown,
                           const CsvStyle &style)
{
    const RecordedRunInfo &info = run.info();
    const bool zh = style.windowNames;
    std::string text;
    if (info.startTimeNs != 0)
        text += std::string(zh ? "# 开始 " : "# start ") + formatLocalTime(info.startTimeNs, 3, style.utc) + '\n';
    for (int c : shown) {
        const Calibration cal = info.channelCalibration(c);
        text += "# " + oneLine(columnName(info, c, style.windowNames)) + (zh ? " = (码 - " : " = (code - ") +
                number(cal.offset) + ") * " + number(cal.scale) + ' ' + channelUnit(info.units, c).unit + '\n';
    }
    const double rate = run.scansPerSecond();
    for (const RecordedMarker &m : run.markers()) {
        if (m.scan < first || m.scan >= last)
            continue;
        text += zh ? "# 标记 " : "# marker ";
        text += rate > 0 ? number(static_cast<double>(m.scan) / rate) + " s" : std::to_string(m.scan);
        if (m.timeNs != 0)
            text += ' ' + formatLocalTime(m.timeNs, 3, style.utc);
        text += ": " + oneLine(m.text) + '\n';
    }
    return text;
}

ExportResult failure(const std::string &path, const std::string &why)
{
    ExportResult r;
    r.outcome = ExportResult::Outcome::Failed;
    r.error = "cannot export to '" + path + "': " + why;
    return r;
}

} // namespace

ExportResult writeCsv(const RecordedRun &run, int64_t first, int64_t last, std::ostream &out,
                      const ExportProgress &progress, const std::vector<int> &channels, const CsvStyle &style)
{
    ExportResult result;
    std::vector<int> shown = channels;
    if (shown.empty())
        for (int c = 0; c < run.channels(); ++c)
            shown.push_back(c);
    std::erase_if(shown, [&](int c) { return c < 0 || c >= run.channels(); });
    const double rate = run.scansPerSecond();
    const bool timed = rate > 0;
    const int decimals = timed ? timeDecimals(rate) : 0;

    // Each channel in its own unit, with the decimals its codes' step needs.
    const RecordedRunInfo &info = run.info();
    std::vector<Calibration> cal;
    std::vector<int> places;
    first = std::max<int64_t>(first, 0);
    last = std::min(last, run.scanCount());
    std::string header = style.bom ? "\xEF\xBB\xBF" : "";
    if (style.comments)
        header += headerComments(run, first, last, shown, style);
    if (style.windowNames)
        header += timed ? "时间 (s)" : "扫描";
    else
        header += timed ? "time (s)" : "scan";
    for (int c : shown) {
        header += ',' + csvField(columnName(info, c, style.windowNames));
        cal.push_back(info.channelCalibration(c));
        places.push_back(valueDecimals(cal.back()));
    }
    header += '\n';
    out.write(header.data(), static_cast<std::streamsize>(header.size()));

    const double span = last > first ? static_cast<double>(last - first) : 1.0;
    // Often enough for a smooth bar, rarely enough to cost nothing.
    constexpr int64_t kProgressEvery = 1 << 14;
    int64_t nextProgress = first;
    bool cancelled = false;
    std::array<char, 64> line{};
    const bool whole = run.forEachScan(first, last, [&](int64_t scan, std::span<const int16_t> codes) {
        if (scan >= nextProgress) {
            nextProgress = scan + kProgressEvery;
            if (!out || (progress && !progress(static_cast<double>(scan - first) / span))) {
                cancelled = static_cast<bool>(out);
                return false;
            }
        }
        char *at = line.data();
        char *const end = line.data() + line.size();
        if (timed)
            at = putFixed(at, end, static_cast<double>(scan) / rate, decimals);
        else
            at = std::to_chars(at, end, scan).ptr;
        out.write(line.data(), at - line.data());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const int c = shown[i];
            if (c >= static_cast<int>(codes.size()))
                break;
            at = line.data();
            *at++ = ',';
            at = putFixed(at, end, cal[i].volts(codes[static_cast<std::size_t>(c)]), places[i]);
            out.write(line.data(), at - line.data());
        }
        out.put('\n');
        ++result.rows;
        return true;
    });
    out.flush();
    if (!out) {
        result.outcome = ExportResult::Outcome::Failed;
        result.error = "the output refused the data";
    } else if (cancelled) {
        result.outcome = ExportResult::Outcome::Cancelled;
    } else if (!whole) {
        // Stopped by the reader, not by the operator.
        const std::string why = run.readError();
        result.outcome = ExportResult::Outcome::Failed;
        result.error = (why.empty() ? std::string("the recording could not be read") : why) + ", after " +
                       std::to_string(result.rows) + " rows";
    } else if (progress) {
        progress(1.0);
    }
    return result;
}

std::string refusedTarget(const ExportTarget &target)
{
    const std::string &path = target.path;
    int err = 0;
    if (nativefile::kindOf(path, err) != nativefile::Kind::File)
        return {}; // missing, or a folder: the write says what is wrong
    if (nativefile::sameFile(path, target.source))
        return "'" + path + "' is the recording being exported";
    switch (nativefile::otherWriter(path)) {
    case nativefile::Writer::Panel:
        return "'" + path + "' is being recorded by a panel";
    case nativefile::Writer::Program:
        return "'" + path + "' is open for writing by another program";
    case nativefile::Writer::None:
        break;
    }
    if (!target.overwrite)
        return "'" + path + "' already exists; choose another name or allow overwriting";
    return {};
}

ExportResult exportCsvFile(const RecordedRun &run, int64_t first, int64_t last, const ExportTarget &target,
                           const ExportProgress &progress, const std::vector<int> &channels, const CsvStyle &style)
{
    const std::string &path = target.path;
    const auto refused = [](const std::string &why) {
        ExportResult r;
        r.outcome = ExportResult::Outcome::Refused;
        r.error = "cannot export: " + why;
        return r;
    };
    if (const std::string why = refusedTarget(target); !why.empty())
        return refused(why);
    // A name no one else uses, in the target's directory (so the rename
    // stays within one file system), hidden from a file dialog while it is
    // written.
    std::string temp;
    int error = 0;
    const nativefile::Handle fd = nativefile::createBeside(path, ".part", temp, error);
    if (fd == nativefile::kNone)
        return failure(path, std::strerror(error));

    ExportResult result;
    {
        FdBuffer buffer(fd);
        std::ostream out(&buffer);
        result = writeCsv(run, first, last, out, progress, channels, style);
        error = buffer.error();
    }
    // On disk before the rename, or a crash could leave a short file under
    // the name the operator chose.
    if (result.outcome == ExportResult::Outcome::Written && error == 0)
        error = nativefile::syncData(fd);
    if (const int e = nativefile::close(fd); e != 0 && error == 0)
        error = e;
    if (result.outcome == ExportResult::Outcome::Written && error == 0) {
        if (const std::string why = refusedTarget(target); !why.empty()) {
            nativefile::remove(temp);
            return refused(why);
        }
        error = nativefile::replace(temp, path);
    }
    if (error != 0 || result.outcome != ExportResult::Outcome::Written) {
        nativefile::remove(temp);
        if (error != 0 || result.outcome == ExportResult::Outcome::Failed)
            return failure(path, error != 0 ? std::strerror(error) : result.error);
    }
    return result;
}

std::string approximateSize(double bytes)
{
    static const char *const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    double value = std::max(0.0, bytes);
    std::size_t unit = 0;
    // The unit is chosen after rounding, so that 999.96 KB says "1.0 MB".
    const auto rounded = [](double v) { return v < 10 ? std::round(v * 10) / 10 : std::round(v); };
    while (rounded(value) >= 1000 && unit + 1 < std::size(kUnits)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    const double r = rounded(value);
    const auto end = std::to_chars(text, text + sizeof text, r, std::chars_format::fixed, unit > 0 && r < 10 ? 1 : 0).ptr;
    return std::string(text, end) + ' ' + kUnits[unit];
}

} // namespace adcard
