// The rules file: an example read key by key, and written back as the same
// document; then a table of refused files, each naming the rule, the key,
// the line and the reason.
#include "rules/rules.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <tuple>

namespace adcard::rules {
namespace {

using ::PrintTo;

// Written as rulesJson writes (no zero for_ms, lower-case hex), so that the
// document written back equals it.
const char *const kExample = R"({
  "rules": [
    {"name": "过压",
     "when": {"channel": 3, "above": 4.0, "hysteresis": 0.2},
     "then": {"mark": true, "output": {"group": 0, "bit": 0, "mode": "hold"}}},
    {"name": "欠压停止", "when": {"channel": 1, "below": -4.0}, "then": {"stop": "recording"}},
    {"name": "门开",
     "when": {"input": {"port": 1, "bit": 3, "edge": "falling"}},
     "then": {"capture": {"before_s": 1.0, "after_s": 2.0}, "alarm": true}},
    {"name": "窗口",
     "when": {"channel": 2, "outside": [-1.5, 2.25], "hysteresis": 0.1, "for_ms": 250.0},
     "then": {"output": {"group": 1, "bit": 7, "mode": "pulse", "pulse_ms": 300}}},
    {"name": "模式",
     "when": {"input": {"port": 0, "pattern": "0x1a", "mask": "0x1f"}},
     "then": {"output": {"group": 0, "bit": 1, "mode": "latch"}, "stop": "acquisition"}},
    {"name": "压力", "when": {"channel": 4, "inside": [0.5, 9.5]}, "then": {}}
  ]
})";

// Channel 4 in bar: 2.5 bar a volt, -1 bar at 0 V, so -13.5 .. 11.5 bar.
ChannelUnits barOn4()
{
    ChannelUnits u(4);
    u[3] = ChannelUnit{"压力", "bar", 2.5, -1.0};
    return u;
}

TEST(RulesFile, ReadsEveryKeyAndWritesTheSameDocumentBack)
{
    auto result = parseRules(kExample, barOn4());
    ASSERT_TRUE(std::holds_alternative<RuleSet>(result)) << std::get<RuleError>(result).message();
    const RuleSet &set = std::get<RuleSet>(result);
    ASSERT_EQ(set.rules.size(), 6U);
    EXPECT_EQ(set.text, kExample);
    const auto &over = std::get<LevelWhen>(set.rules[0].when);
    EXPECT_EQ(std::make_tuple(over.channel, over.level.kind, over.level.level, over.level.hysteresis),
              std::make_tuple(3, LevelKind::Above, 4.0, 0.2));
    EXPECT_TRUE(set.rules[0].mark);
    EXPECT_EQ(set.rules[0].output->mode, OutputMode::Hold);
    EXPECT_EQ(std::get<LevelWhen>(set.rules[1].when).level.kind, LevelKind::Below);
    EXPECT_EQ(set.rules[1].stop, StopWhat::Recording);
    const auto &door = std::get<InputWhen>(set.rules[2].when);
    EXPECT_EQ(std::make_tuple(door.port, door.bit, door.edge, door.match), std::make_tuple(1, 3, InputEdge::Falling, false));
    EXPECT_EQ(std::make_tuple(set.rules[2].capture->beforeS, set.rules[2].capture->afterS, set.rules[2].alarm),
              std::make_tuple(1.0, 2.0, true));
    const auto &window = std::get<LevelWhen>(set.rules[3].when);
    EXPECT_EQ(std::make_tuple(window.level.kind, window.level.level, window.level.level2, window.forMs),
              std::make_tuple(LevelKind::Outside, -1.5, 2.25, 250.0));
    EXPECT_EQ(std::make_tuple(set.rules[3].output->group, set.rules[3].output->bit, set.rules[3].output->mode,
                              set.rules[3].output->pulseMs),
              std::make_tuple(1, 7, OutputMode::Pulse, 300));
    const auto &pattern = std::get<InputWhen>(set.rules[4].when);
    EXPECT_EQ(std::make_tuple(pattern.match, pattern.pattern, pattern.mask), std::make_tuple(true, 0x1a, 0x1f));
    EXPECT_EQ(std::make_tuple(set.rules[4].output->mode, set.rules[4].stop),
              std::make_tuple(OutputMode::Latch, StopWhat::Acquisition));
    EXPECT_EQ(std::get<LevelWhen>(set.rules[5].when).level.kind, LevelKind::Inside);
    EXPECT_FALSE(set.rules[5].output || set.rules[5].capture || set.rules[5].mark || set.rules[5].alarm);

    const std::string written = rulesJson(set.rules);
    EXPECT_EQ(nlohmann::json::parse(written), nlohmann::json::parse(kExample)) << written;
}

struct RefusedRow {
    const char *name;
    const char *file; // with ' for ", and a rule "a" written out where it starts with '@'
    const char *rule, *key;
    int line;
    const char *reason; // a fragment of it
};

// "@W|T": the rule named a, its `when` W on line 2 and its `then` T on line 3.
std::string fileOf(const char *row)
{
    std::string text = row;
    if (text[0] == '@') {
        const std::size_t bar = text.find('|');
        text = "{'rules': [{'name': 'a',\n 'when': " + text.substr(1, bar - 1) + ",\n 'then': " +
               (bar == std::string::npos ? "{}" : text.substr(bar + 1)) + "}]}";
    }
    std::replace(text.begin(), text.end(), '\'', '"');
    return text;
}

const RefusedRow kRefused[] = {
    {"syntax_error", "{'rules': [\n {'name': 'a',\n  'when': {'channel': 1,, 'above': 1}}]}", "规则 1", "channel", 3,
     "JSON 语法错误"},
    {"not_an_object", "[]", "", "", 0, "应为一个对象"},
    {"unknown_top_key", "{'rules': [],\n 'rule': []}", "", "rule", 2, "未知的键"},
    {"repeated_key", "@{'channel': 1, 'above': 1,\n 'above': 2}", "规则 1", "above", 3, "重复"},
    {"missing_name", "{'rules': [\n{'when': {'channel': 1, 'above': 1}}]}", "规则 1", "name", 2, "缺少"},
    {"same_name_twice", "{'rules': [{'name': 'a', 'when': {'channel': 1, 'above': 1}},\n{'name': 'a', 'when': {'channel': 2, 'above': 1}}]}",
     "a", "name", 2, "与规则 1 同名"},
    {"channel_5", "@{'channel': 5, 'above': 1}", "a", "channel", 2, "1 到 4"},
    {"channel_as_text", "@{'channel': '1', 'above': 1}", "a", "channel", 2, "应为整数"},
    {"level_beyond_range_in_volts", "@{'channel': 1, 'above': 5.5}", "a", "above", 2, "超出本卡在此通道的量程"},
    {"level_beyond_range_in_bar", "@{'channel': 4, 'below': -14}", "a", "below", 2, "超出本卡在此通道的量程"},
    {"window_between_two_codes", "@{'channel': 1, 'inside': [1.0001, 1.0002]}", "a", "inside", 2, "不会满足"},
    {"hysteresis_leaves_nothing_to_clear", "@{'channel': 1, 'outside': [0, 1], 'hysteresis': 0.6}", "a", "hysteresis", 2,
     "回差过大"},
    {"negative_hysteresis", "@{'channel': 1, 'above': 1, 'hysteresis': -0.1}", "a", "hysteresis", 2, "之间"},
    {"two_levels", "@{'channel': 1, 'above': 1, 'below': 0}", "a", "below", 2, "只能有其一"},
    {"no_level", "@{'channel': 1}", "a", "channel", 2, "之一"},
    {"window_of_one_level", "@{'channel': 1, 'inside': [1]}", "a", "inside", 2, "两个数"},
    {"window_reversed", "@{'channel': 1, 'inside': [2, 1]}", "a", "inside", 2, "L1 不能大于 L2"},
    {"unknown_key_in_when", "@{'channel': 1, 'above': 1, 'for': 3}", "a", "for", 2, "未知的键"},
    {"neither_channel_nor_input", "@{}", "a", "channel", 2, "'input'"},
    {"port_2", "@{'input': {'port': 2, 'bit': 0}}", "a", "port", 2, "0 到 1"},
    {"bit_8", "@{'input': {'port': 0, 'bit': 8}}", "a", "bit", 2, "0 到 7"},
    {"bad_edge", "@{'input': {'port': 0, 'bit': 1, 'edge': 'up'}}", "a", "edge", 2, "'rising'"},
    {"bad_hex_pattern", "@{'input': {'port': 0, 'pattern': '0xg1'}}", "a", "pattern", 2, "十六进制"},
    {"pattern_outside_mask", "@{'input': {'port': 0, 'pattern': '0x30', 'mask': 15}}", "a", "pattern", 2, "mask"},
    {"bit_and_pattern", "@{'input': {'port': 0, 'bit': 1, 'pattern': 1}}", "a", "bit", 2, "只能有其一"},
    {"group_2", "@{'channel': 1, 'above': 1}|{'output': {'group': 2, 'bit': 0}}", "a", "group", 3, "0 到 1"},
    {"bad_mode", "@{'channel': 1, 'above': 1}|{'output': {'group': 0, 'bit': 0, 'mode': 'toggle'}}", "a", "mode", 3,
     "'latch'"},
    {"pulse_without_pulse_ms", "@{'channel': 1, 'above': 1}|{'output': {'group': 0, 'bit': 0, 'mode': 'pulse'}}", "a",
     "mode", 3, "pulse_ms"},
    {"pulse_ms_with_hold", "@{'channel': 1, 'above': 1}|{'output': {'group': 0, 'bit': 0, 'pulse_ms': 5}}", "a",
     "pulse_ms", 3, "只用于"},
    {"either_edge_cannot_hold", "@{'input': {'port': 0, 'bit': 1, 'edge': 'either'}}|{'output': {'group': 0, 'bit': 0}}",
     "a", "mode", 3, "either"},
    {"output_bit_owned_twice",
     "{'rules': [{'name': 'a', 'when': {'channel': 1, 'above': 1}, 'then': {'output': {'group': 1, 'bit': 4}}},\n"
     "{'name': 'b', 'when': {'channel': 2, 'above': 1},\n 'then': {'output': {'group': 1, 'bit': 4, 'mode': 'latch'}}}]}",
     "b", "bit", 3, "已属于规则“a”"},
    {"before_over_10s", "@{'channel': 1, 'above': 1}|{'capture': {'before_s': 10.5, 'after_s': 1}}", "a", "before_s", 3,
     "0 到 10"},
    {"bad_stop", "@{'channel': 1, 'above': 1}|{'stop': 'all'}", "a", "stop", 3, "'acquisition'"},
    {"alarm_as_number", "@{'channel': 1, 'above': 1}|{'alarm': 1}", "a", "alarm", 3, "true 或 false"},
};

class RefusedFiles : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedFiles, NameTheRuleTheKeyTheLineAndTheReason)
{
    const RefusedRow &row = GetParam();
    const std::string file = fileOf(row.file);
    std::string reason = row.reason;
    std::replace(reason.begin(), reason.end(), '\'', '"');
    const auto result = parseRules(file, barOn4());
    const auto *e = std::get_if<RuleError>(&result);
    ASSERT_NE(e, nullptr) << "accepted: " << file;
    EXPECT_EQ(e->rule, row.rule);
    EXPECT_EQ(e->key, row.key);
    EXPECT_EQ(e->line, row.line);
    EXPECT_NE(e->reason.find(reason), std::string::npos) << e->reason;
    const std::string message = e->message();
    EXPECT_NE(message.find(reason), std::string::npos) << message;
    if (*row.key) {
        EXPECT_NE(message.find(std::string("\"") + row.key + "\""), std::string::npos) << message;
    }
    if (row.line > 0) {
        EXPECT_NE(message.find("第 " + std::to_string(row.line) + " 行"), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(, RefusedFiles, ::testing::ValuesIn(kRefused), kRowName);

} // namespace
} // namespace adcard::rules
