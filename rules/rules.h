#pragma once
// Rules: a condition on a channel's level or on the digital inputs, and what
// to do when it fires. This header holds the model and its file; the
// evaluator is engine.h. Nothing here draws or reads a recording.
#include "data/calibration.h"
#include "data/channel_units.h"
#include "data/level.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace adcard::rules {

// What the file accepts; beyond these a rule is refused.
inline constexpr int kChannels = 4;          // numbered 1..4, as the windows show them
inline constexpr int kPorts = 2;             // input ports 0 and 1
inline constexpr int kGroups = 2;            // output groups 0 and 1
inline constexpr int kBits = 8;              // bits 0..7 of a port or a group
inline constexpr int kCardLowestCode = 0;    // the card's 12-bit codes
inline constexpr int kCardHighestCode = 4095;
inline constexpr double kMaxBeforeS = 10.0;  // the buffer kept for a capture
inline constexpr double kMaxAfterS = 3600.0;
inline constexpr double kMaxForMs = 86'400'000.0; // a day
inline constexpr int kMaxPulseMs = 3'600'000;     // an hour
inline constexpr std::size_t kMaxNameBytes = 64;  // UTF-8

enum class InputEdge { Rising, Falling, Either };

struct LevelWhen {
    int channel = 1; // 1..4 as the windows show them
    LevelCondition level;
    double forMs = 0;
};

struct InputWhen {
    int port = 0;
    int bit = 0;
    InputEdge edge = InputEdge::Rising;
    bool match = false; // port & mask == pattern, instead of an edge of `bit`
    int pattern = 0, mask = 0xff;
};

enum class OutputMode { Hold, Pulse, Latch };

struct OutputAction {
    int group = 0;
    int bit = 0;
    OutputMode mode = OutputMode::Hold;
    int pulseMs = 0;
};

enum class StopWhat { None, Recording, Acquisition };

struct CaptureAction {
    double beforeS = 0, afterS = 0;
};

struct Rule {
    std::string name;
    std::variant<LevelWhen, InputWhen> when;
    bool mark = false;
    std::optional<OutputAction> output;
    std::optional<CaptureAction> capture;
    StopWhat stop = StopWhat::None;
    bool alarm = false;
};

struct RuleSet {
    std::vector<Rule> rules;
    std::string text; // the JSON text in force
};

struct RuleError {
    std::string rule; // the rule's name, or "规则 3" where it has none (yet)
    std::string key;  // the key at fault, as the file spells it; empty for the file as a whole
    int line = 0;     // from 1; 0 when unknown
    std::string reason;

    // One line for the operator, naming the rule, the key and the line.
    std::string message() const;
};

// Parses and checks a rules file against the channels' units (levels are in
// each channel's unit): a channel, port or bit that does not exist, a level
// beyond the card's range in that unit, an output bit that another rule
// already owns, before_s over 10 s, a bad mode, stop or edge, an unknown or
// repeated key, pulse without pulse_ms, ... are refused with the reason.
std::variant<RuleSet, RuleError> parseRules(std::string_view json, const ChannelUnits &units,
                                            const Calibration &card = kPanelCalibration);

// A file that parseRules reads back to the same rules.
std::string rulesJson(const std::vector<Rule> &rules);

// The texts the file uses for the enums.
std::string_view edgeName(InputEdge e);
std::string_view modeName(OutputMode m);
std::string_view stopName(StopWhat s);

// The bits of output group `group` that the rules drive: theirs alone, which
// the operator's own writes leave as the rules have them.
uint8_t ownedOutputBits(const std::vector<Rule> &rules, int group);

// The range of values that channel `channel` (1..4) can show, in its unit.
struct ValueRange {
    double lowest = 0, highest = 0;
};
ValueRange channelRange(const ChannelUnits &units, const Calibration &card, int channel);

} // namespace adcard::rules
