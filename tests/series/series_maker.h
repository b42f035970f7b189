#pragma once
// Writes one recording twice: as a series of files and as one file holding
// the same blocks (where a file of the series is left out, its blocks are
// holes of the one file), so that every answer can be compared.
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "series/series_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>

namespace adcard::seriestest {

struct Shape {
    int files = 4;
    int64_t blocksPerFile = 24;
    int32_t scansPerBlock = 256;
    int channels = 2;
    std::set<int> leftOut;   // places not written to the series
    std::set<int64_t> lost;  // blocks missed in both
};

inline int16_t codeAt(int64_t scan, int channel)
{
    double v = 2048 + 900 * std::sin(double(scan) / (97.0 + channel * 31)) + double((scan * 7 + channel) % 13);
    if (channel == 0 && (scan == 3333 || scan == 17000 || scan == 20005))
        v = 4000; // a rare spike
    return int16_t(v);
}

inline AcqSettings settingsOf(const Shape &s)
{
    AcqSettings a;
    a.IntrArg1 = 10;
    a.ScansPerBlock = s.scansPerBlock;
    a.ChannelCount = int16_t(s.channels);
    a.IntrArg5 = 1000;
    a.IntrArg7 = 1;
    a.RingBlocks = 20;
    return a;
}

inline std::vector<int16_t> blockOf(const Shape &s, int64_t index)
{
    std::vector<int16_t> out;
    for (int64_t k = 0; k < s.scansPerBlock; ++k)
        for (int c = 0; c < s.channels; ++c)
            out.push_back(codeAt(index * s.scansPerBlock + k, c));
    return out;
}

constexpr const char *kId = "00112233445566778899aabbccddeeff";
constexpr int64_t kStartNs = 1'765'000'000'000'000'000;

// Blocks [from, to) into `w`, with a tick each, markers, events and inputs.
// Without `present`, the blocks are lost, with all that goes with them.
inline void writeBlocks(RecordingWriter &w, const Shape &s, int64_t from, int64_t to, bool present = true)
{
    using namespace std::chrono_literals;
    const RecordingWriter::Clock::time_point now{100s};
    for (int64_t b = from; b < to; ++b) {
        if (present && !s.lost.count(b))
            w.onBlock(b, int32_t(b % 20), blockOf(s, b));
        TickEnd t;
        t.timeNs = kStartNs + (b + 1) * s.scansPerBlock * 1'000'000;
        t.blockCount = b + 1;
        t.missed = int64_t(std::count_if(s.lost.begin(), s.lost.end(), [&](int64_t l) { return l <= b; }));
        // A tick that brought no block reads no inputs here: where its row would
        // go differs between one file and a file that begins with the loss.
        t.digitalRead = present && !s.lost.count(b);
        t.digital = {int16_t((b / 5) & 0xff), int16_t(b & 0xff)};
        w.onTickEnd(t, now);
        const int64_t scan = b * s.scansPerBlock + 17;
        if (!present)
            continue;
        if (b % 7 == 3)
            w.addMarkerAt(scan, t.timeNs, "m" + std::to_string(b));
        if (b % 9 == 4)
            w.addEvent({"r", scan, b % 2 == 0, 1.5, false, false, 0, 0, "", "V", 3}, t.timeNs);
    }
}

// The series into `dir` (NAME_YYYYMMDD-HHMMSS.h5, one a minute) and the one file `single`.
inline void make(const Shape &s, const std::string &dir, const std::string &single)
{
    using namespace std::chrono_literals;
    std::filesystem::create_directories(dir);
    const RecordingWriter::Clock::time_point now{100s};
    for (int f = 0; f < s.files; ++f) {
        if (s.leftOut.count(f))
            continue;
        char name[64];
        std::snprintf(name, sizeof name, "/rec_20251206-10%02d00.h5", f);
        RecordingWriter::Policy p{};
        p.series = SeriesMembership{kId, f, kStartNs, "1m"};
        RecordingWriter w(std::make_unique<RecordingFile>(dir + name, false), "", "", p);
        const int64_t first = f * s.blocksPerFile;
        w.beginRun(settingsOf(s), kStartNs, now, RecordingWriter::SeriesRun{1, first, f > 0});
        writeBlocks(w, s, first, first + s.blocksPerFile);
        w.close(kStartNs + 1, now);
    }
    RecordingWriter w(std::make_unique<RecordingFile>(single, false), "", "", {});
    w.beginRun(settingsOf(s), kStartNs, now);
    for (int f = 0; f < s.files; ++f)
        writeBlocks(w, s, f * s.blocksPerFile, (f + 1) * s.blocksPerFile, !s.leftOut.count(f));
    w.close(kStartNs + 1, now);
}

// A folder of this process's own under the tests' scratch folder: each case
// runs in a process of its own, several at once.
inline std::string scratch(const std::string &name)
{
    const std::string dir = std::string(ADPANEL_TEST_TMP) + "/" + std::to_string(::getpid()) + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Removes this process's scratch folder once its tests are done.
struct RemoveScratch : ::testing::Environment {
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(std::string(ADPANEL_TEST_TMP) + "/" + std::to_string(::getpid()), ec);
    }
};

inline series::Opener opener()
{
    return [](const std::string &path, std::string &error) {
        return std::unique_ptr<RecordingReader>(openRecording(path.c_str(), &error));
    };
}

} // namespace adcard::seriestest
