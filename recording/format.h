#pragma once
// The recording file's one schema, format 4 (docs/recording-format.md): the
// names of its datasets and attributes, its rows, the summary row's layout
// and the pyramid's shape. The writer lays the file out from it and the
// reader checks and reads the file against it; nothing else names them.
#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace adcard {

// Owns one HDF5 identifier.
class Hid {
public:
    using Closer = herr_t (*)(hid_t);
    Hid() = default;
    Hid(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    Hid(Hid &&o) noexcept : id_(o.id_), closer_(o.closer_) { o.id_ = H5I_INVALID_HID; }
    Hid &operator=(Hid &&o) noexcept;
    ~Hid() { reset(); }
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Returns the closer's result; 0 when there was nothing to close.
    herr_t reset();

private:
    hid_t id_ = H5I_INVALID_HID;
    Closer closer_ = nullptr;
};

namespace format {

inline constexpr int32_t kVersion = 4;
// Format 3 adds only the channels' names and units (kChannelNames ...): a
// file of format 2 reads the same, its channels in volts. Format 4 adds the
// rules' events and texts (kEvents, kRules, kRulesText): a file without them
// reads as one that had no rules armed.
inline constexpr int32_t kOldestSessionVersion = 2;
// From format 4 a summary entry keeps each channel's sum and sum of squares
// as integers, so that a mean or RMS made of entries is exact; formats 2 and
// 3 kept float32 means and standard deviations.
inline constexpr int32_t kFirstSumsVersion = 4;

// Datasets, all at the root.
inline constexpr const char *kSamples = "samples";
inline constexpr const char *kBlocks = "blocks";
inline constexpr const char *kRuns = "runs";
inline constexpr const char *kMarkers = "markers";
inline constexpr const char *kDigital = "digital";
inline constexpr const char *kSummaries = "summaries";
inline constexpr const char *kEvents = "events";
// A row per arming of rules, pointing into kRulesText's bytes.
inline constexpr const char *kRules = "rules";
inline constexpr const char *kRulesText = "rules_text";
// "level3", within kSummaries.
std::string levelName(int level);
// "summaries/level3", from the root.
std::string levelPath(int level);

// Root attributes.
inline constexpr const char *kFormatVersion = "format_version";
inline constexpr const char *kProgramVersion = "program_version";
inline constexpr const char *kDriverLibrary = "driver_library";
inline constexpr const char *kChannels = "channels";
inline constexpr const char *kScansPerBlock = "scans_per_block";
// The seven arguments the first run's Start passed to StartIntr, as passed;
// the fifth is the rate in scans a second.
inline constexpr const char *kStartArg1 = "IntrArg1";
inline constexpr const char *kStartScansPerBlock = "ScansPerBlock";
inline constexpr const char *kStartArg3 = "IntrArg3";
inline constexpr const char *kStartChannelCount = "ChannelCount";
inline constexpr const char *kRate = "IntrArg5";
inline constexpr const char *kStartArg6 = "IntrArg6";
inline constexpr const char *kStartArg7 = "IntrArg7";
inline constexpr const char *kVoltsOffset = "volts_offset";
inline constexpr const char *kVoltsScale = "volts_scale";
inline constexpr const char *kVoltsUnit = "volts_unit";
// Per channel, in channel order: value = volts * scale + offset, in unit.
inline constexpr const char *kChannelNames = "channel_names";
inline constexpr const char *kChannelUnits = "channel_units";
inline constexpr const char *kChannelScale = "channel_scale";
inline constexpr const char *kChannelOffset = "channel_offset";
inline constexpr const char *kSummaryBase = "summary_base";
inline constexpr const char *kSummaryFactor = "summary_factor";
inline constexpr const char *kSummaryLevels = "summary_levels";
// A file of a series (a recording split into files), all four or none: the
// series' id (32 hex digits, the same in each of its files), the file's
// place in it (0, 1, ...), the wall-clock time of the series' first scan in
// ns since 1970 UTC, and what it is split by ("1h", "10m", "500MiB"). A file
// without them is a recording of its own.
inline constexpr const char *kSeriesId = "series_id";
inline constexpr const char *kSeriesPlace = "series_place";
inline constexpr const char *kSeriesStartNs = "series_start_ns";
inline constexpr const char *kSeriesSplit = "series_split";

// Format 1, still read: a group "runNNNN" per run holding kSamples and
// kBlocks, with kChannels, kScansPerBlock, kRate and these as attributes.
inline constexpr const char *kV1StartTime = "start_time";
inline constexpr const char *kV1Missed = "missed";
inline constexpr const char *kV1Dropped = "dropped";

// The pyramid: level L's entries each span base * factor^(L-1) scans.
struct PyramidShape {
    int64_t base = 256;
    int64_t factor = 8;
    int levels = 8;
    int64_t width(int level) const
    {
        int64_t w = base;
        for (int l = 1; l < level; ++l)
            w *= factor;
        return w;
    }
};
inline constexpr PyramidShape kPyramid{};
// A file may say another shape; more levels than this are not read.
inline constexpr int kMaxLevels = 16;

inline constexpr std::size_t kStartTimeBytes = 40;
inline constexpr std::size_t kMarkerTextBytes = 128; // with the terminating zero
inline constexpr std::size_t kRuleNameBytes = 128;   // likewise
inline constexpr std::size_t kEventNoteBytes = 128;  // likewise

// One row of kBlocks: row r describes samples [r * S, (r + 1) * S).
struct BlockRow {
    int32_t run = 0;    // from 1
    int64_t index = 0;  // fetches since the run began, from 0
    int64_t timeNs = 0; // the tick's wall-clock time
    int32_t slot = 0;
    int64_t blockCount = 0; // blocks the card reported since the run began
};

// One row of kRuns, rewritten in place as the run grows.
struct RunRow {
    int32_t run = 0;
    int64_t startTimeNs = 0;
    char startTime[kStartTimeBytes] = {};
    int64_t firstRow = 0;
    int64_t rows = 0;
    int64_t missed = 0;
    int64_t dropped = 0;
    int64_t endTimeNs = 0;
    int64_t summaryFirst[kMaxLevels] = {}; // the file holds the first `levels`
    // In a series: the run's block index, counted across the series, of this
    // file's block 0 (its rows count from 0, as in a file of its own), and 1
    // when the run began in an earlier file.
    int64_t seriesFirstBlock = 0;
    uint8_t continues = 0;
};

struct MarkerRow {
    int32_t run = 0;
    int64_t scan = 0;
    int64_t timeNs = 0;
    char text[kMarkerTextBytes] = {};
};

struct DigitalRow {
    int32_t run = 0;
    int64_t scan = 0;
    int64_t timeNs = 0;
    int16_t port0 = 0;
    int16_t port1 = 0;
};

// What an armed rule did at a scan of a run.
struct EventRow {
    int32_t run = 0;
    int64_t scan = 0;   // in the run's scans
    int64_t timeNs = 0; // the tick that saw it, wall clock
    char rule[kRuleNameBytes] = {};
    uint8_t fired = 0;  // 1 fired, 0 cleared
    double value = 0;   // in the channel's unit; a port's value for an input
    char note[kEventNoteBytes] = {}; // what went wrong with an action, or empty
};

// Rules armed (or, with no text, disarmed) from run `run` on: that run's
// start if it was armed between runs, else within it at `time_ns`.
struct RulesRow {
    int32_t run = 0;
    int64_t timeNs = 0;
    int64_t textFirst = 0; // the text is bytes [textFirst, textFirst + textBytes) of kRulesText
    int64_t textBytes = 0;
};

// A member of a compound row: in memory at `offset`; in the file packed, in
// this order, little-endian. `extent` is a text's bytes or an array's length.
struct Field {
    enum Kind { U8, I16, I32, I64, F32, F64, Text, I16Array, I64Array, F32Array };
    const char *name;
    std::size_t offset;
    Kind kind;
    std::size_t extent = 0;
    bool required = true; // a reader refuses a table without it
};

inline constexpr Field kBlockFields[] = {
    {"run", offsetof(BlockRow, run), Field::I32},
    {"index", offsetof(BlockRow, index), Field::I64},
    {"time_ns", offsetof(BlockRow, timeNs), Field::I64},
    {"slot", offsetof(BlockRow, slot), Field::I32},
    {"block_count", offsetof(BlockRow, blockCount), Field::I64},
};
// A block's index read alone, into an int64_t.
inline constexpr Field kIndexAlone{"index", 0, Field::I64};
// summary_first's extent is the file's levels: use runFields().
inline constexpr Field kRunFields[] = {
    {"run", offsetof(RunRow, run), Field::I32},
    {"start_time_ns", offsetof(RunRow, startTimeNs), Field::I64},
    {"start_time", offsetof(RunRow, startTime), Field::Text, kStartTimeBytes, false},
    {"first_row", offsetof(RunRow, firstRow), Field::I64},
    {"rows", offsetof(RunRow, rows), Field::I64},
    {"missed", offsetof(RunRow, missed), Field::I64},
    {"dropped", offsetof(RunRow, dropped), Field::I64},
    {"end_time_ns", offsetof(RunRow, endTimeNs), Field::I64},
    {"summary_first", offsetof(RunRow, summaryFirst), Field::I64Array, 0, false},
    {"series_first_block", offsetof(RunRow, seriesFirstBlock), Field::I64, 0, false},
    {"continues", offsetof(RunRow, continues), Field::U8, 0, false},
};
inline constexpr Field kMarkerFields[] = {
    {"run", offsetof(MarkerRow, run), Field::I32},
    {"scan", offsetof(MarkerRow, scan), Field::I64},
    {"time_ns", offsetof(MarkerRow, timeNs), Field::I64, 0, false},
    {"text", offsetof(MarkerRow, text), Field::Text, kMarkerTextBytes, false},
};
inline constexpr Field kDigitalFields[] = {
    {"run", offsetof(DigitalRow, run), Field::I32},
    {"scan", offsetof(DigitalRow, scan), Field::I64},
    {"time_ns", offsetof(DigitalRow, timeNs), Field::I64, 0, false},
    {"port0", offsetof(DigitalRow, port0), Field::I16},
    {"port1", offsetof(DigitalRow, port1), Field::I16},
};

inline constexpr Field kEventFields[] = {
    {"run", offsetof(EventRow, run), Field::I32},
    {"scan", offsetof(EventRow, scan), Field::I64},
    {"time_ns", offsetof(EventRow, timeNs), Field::I64},
    {"rule", offsetof(EventRow, rule), Field::Text, kRuleNameBytes},
    {"fired", offsetof(EventRow, fired), Field::U8},
    {"value", offsetof(EventRow, value), Field::F64},
    {"note", offsetof(EventRow, note), Field::Text, kEventNoteBytes, false},
};
inline constexpr Field kRulesFields[] = {
    {"run", offsetof(RulesRow, run), Field::I32},
    {"time_ns", offsetof(RulesRow, timeNs), Field::I64},
    {"text_first", offsetof(RulesRow, textFirst), Field::I64},
    {"text_bytes", offsetof(RulesRow, textBytes), Field::I64},
};

// kRunFields with summary_first `levels` long.
struct RunFields {
    Field fields[std::size(kRunFields)];
    std::span<const Field> all() const { return fields; }
};
RunFields runFields(int levels);

// A summary entry of `channels` channels, packed the same in memory and in
// the file: run i32, start i64, count i64, min i16[n], max i16[n], then from
// format 4 sum i64[n] and sum_sq i64[n] (the codes' sum and sum of squares),
// before it mean f32[n] and std f32[n] (population standard deviation of the
// codes); n = channels.
struct SummaryLayout {
    std::size_t channels = 0;
    bool sums = true; // the file's version is kFirstSumsVersion or later
    static constexpr std::size_t kRun = 0, kStart = 4, kCount = 12, kMin = 20;
    static SummaryLayout of(std::size_t channels, int version) { return {channels, version >= kFirstSumsVersion}; }
    std::size_t max() const { return kMin + 2 * channels; }
    // Format 4.
    std::size_t sum() const { return kMin + 4 * channels; }
    std::size_t sumSq() const { return kMin + 12 * channels; }
    // Formats 2 and 3.
    std::size_t mean() const { return kMin + 4 * channels; }
    std::size_t sd() const { return kMin + 8 * channels; }
    std::size_t bytes() const { return kMin + (sums ? 20 : 12) * channels; }
    struct Fields {
        Field fields[7];
        std::span<const Field> all() const { return fields; }
    };
    Fields fields() const;
};

// The HDF5 types of a field's kind: as the program holds it, and as the file
// stores it (little-endian). Not for Text.
hid_t memoryType(Field::Kind kind);
hid_t fileType(Field::Kind kind);

// HDF5 prints its error stack by default; the recorder and the reader give
// one reason of their own instead. The setting is per thread.
class QuietErrors {
public:
    QuietErrors();
    ~QuietErrors();
    QuietErrors(const QuietErrors &) = delete;
    QuietErrors &operator=(const QuietErrors &) = delete;

private:
    H5E_auto2_t func_ = nullptr;
    void *data_ = nullptr;
};

// HDF5's signature begins the superblock; `bytes` holds at least 8.
bool hasSignature(std::span<const unsigned char> bytes);

} // namespace format
} // namespace adcard
