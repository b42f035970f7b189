// The rules file: the example of the documentation read field by field and
// written back to the same rules; then a table of refused files, each naming
// the rule, the key, the line and the reason.
#include "rules/rules.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <tuple>

namespace adcard::rules {
namespace {

using ::PrintTo;

const char *const kExample = R"({
  "rules": [
    {"name": "过压",
     "when": {"channel": 3, "above": 4.0, "hysteresis": 0.2, "for_ms": 0},
     "then": {"mark": true, "output": {"group": 0, "bit": 0, "mode": "hold"}}},
    {"name": "欠压停止",
     "when": {"channel": 1, "below": -4.0},
     "then": {"stop": "recording"}},
    {"name": "门开",
     "when": {"input": {"port": 1, "bit": 3, "edge": "rising"}},
     "then": {"capture": {"before_s": 1.0, "after_s": 2.0}, "alarm": true}},
    {"name": "窗口",
     "when": {"channel": 2, "outside": [-1.5, 2.25], "hysteresis": 0.1, "for_ms": 250},
     "then": {"output": {"group": 1, "bit": 7, "mode": "pulse", "pulse_ms": 300}}},
    {"name": "模式",
     "when": {"input": {"port": 0, "pattern": "0x1A", "mask": 31}},
     "then": {"output": {"group": 0, "bit": 1, "mode": "latch"}, "stop": "acquisition"}},
    {"name": "压力", "when": {"channel": 4, "inside": [0.5, 9.5]}}
  ]
})";

// Channel 4 in bar: 2.5 bar a volt, -1 bar at 0 V, so -13.5 .. 11.5 bar.
ChannelUnits barOn4()
{
    ChannelUnits u(4);
    u[3] = ChannelUnit{"压力", "bar", 2.5, -1.0};
    return u;
}

RuleSet parsed(const std::string &text)
{
    auto r = parseRules(text, barOn4());
    if (const auto *e = std::get_if<RuleError>(&r))
        ADD_FAILURE() << e->message();
    return std::get_if<RuleSet>(&r) ? std::get<RuleSet>(r) : RuleSet{};
}

void expectSameRules(const std::vector<Rule> &a, const std::vector<Rule> &b)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i].name);
        EXPECT_EQ(a[i].name, b[i].name);
        ASSERT_EQ(a[i].when.index(), b[i].when.index());
        if (const auto *l = std::get_if<LevelWhen>(&a[i].when)) {
            const auto &m = std::get<LevelWhen>(b[i].when);
            EXPECT_EQ(l->channel, m.channel);
            EXPECT_EQ(l->level.kind, m.level.kind);
            EXPECT_EQ(l->level.level, m.level.level);
            EXPECT_EQ(l->level.level2, m.level.level2);
            EXPECT_EQ(l->level.hysteresis, m.level.hysteresis);
            EXPECT_EQ(l->forMs, m.forMs);
        } else {
            const auto &x = std::get<InputWhen>(a[i].when), &y = std::get<InputWhen>(b[i].when);
            EXPECT_EQ(std::tie(x.port, x.bit, x.edge, x.match, x.pattern, x.mask),
                      std::tie(y.port, y.bit, y.edge, y.match, y.pattern, y.mask));
        }
        EXPECT_EQ(a[i].mark, b[i].mark);
        ASSERT_EQ(a[i].output.has_value(), b[i].output.has_value());
        if (a[i].output) {
            EXPECT_EQ(std::tie(a[i].output->group, a[i].output->bit, a[i].output->mode, a[i].output->pulseMs),
                      std::tie(b[i].output->group, b[i].output->bit, b[i].output->mode, b[i].output->pulseMs));
        }
        ASSERT_EQ(a[i].capture.has_value(), b[i].capture.has_value());
        if (a[i].capture) {
            EXPECT_EQ(std::tie(a[i].capture->beforeS, a[i].capture->afterS),
                      std::tie(b[i].capture->beforeS, b[i].capture->afterS));
        }
        EXPECT_EQ(a[i].stop, b[i].stop);
        EXPECT_EQ(a[i].alarm, b[i].alarm);
    }
}

TEST(RulesFile, ReadsEveryKeyOfTheExample)
{
    const RuleSet set = parsed(kExample);
    ASSERT_EQ(set.rules.size(), 6U);
    EXPECT_EQ(set.text, kExample);
    const Rule &over = set.rules[0];
    const auto &lw = std::get<LevelWhen>(over.when);
    EXPECT_EQ(lw.channel, 3);
    EXPECT_EQ(lw.level.kind, LevelKind::Above);
    EXPECT_EQ(lw.level.level, 4.0);
    EXPECT_EQ(lw.level.hysteresis, 0.2);
    EXPECT_TRUE(over.mark);
    ASSERT_TRUE(over.output);
    EXPECT_EQ(over.output->mode, OutputMode::Hold);
    EXPECT_EQ(set.rules[1].stop, StopWhat::Recording);
    const auto &door = std::get<InputWhen>(set.rules[2].when);
    EXPECT_EQ(std::tie(door.port, door.bit, door.edge, door.match), std::make_tuple(1, 3, InputEdge::Rising, false));
    ASSERT_TRUE(set.rules[2].capture);
    EXPECT_EQ(set.rules[2].capture->afterS, 2.0);
    EXPECT_TRUE(set.rules[2].alarm);
    const auto &window = std::get<LevelWhen>(set.rules[3].when);
    EXPECT_EQ(std::tie(window.level.kind, window.level.level, window.level.level2, window.forMs),
              std::make_tuple(LevelKind::Outside, -1.5, 2.25, 250.0));
    EXPECT_EQ(set.rules[3].output->pulseMs, 300);
    const auto &pattern = std::get<InputWhen>(set.rules[4].when);
    EXPECT_EQ(std::tie(pattern.match, pattern.pattern, pattern.mask), std::make_tuple(true, 0x1a, 31));
    EXPECT_EQ(set.rules[4].output->mode, OutputMode::Latch);
    EXPECT_EQ(set.rules[4].stop, StopWhat::Acquisition);
    EXPECT_FALSE(set.rules[5].output || set.rules[5].capture || set.rules[5].mark);
}

TEST(RulesFile, WrittenBackReadsAsTheSameRules)
{
    const RuleSet set = parsed(kExample);
    const std::string written = rulesJson(set.rules);
    const RuleSet again = parsed(written);
    expectSameRules(set.rules, again.rules);
    EXPECT_EQ(rulesJson(again.rules), written);
}

struct RefusedRow {
    const char *name;
    const char *file;
    const char *rule, *key;
    int line;
    const char *reason; // a fragment of it
};

const RefusedRow kRefused[] = {
    {"syntax_error_names_its_line", "{\"rules\": [\n  {\"name\": \"a\",\n   \"when\": {\"channel\": 1,, \"above\": 1}}\n]}",
     "规则 1", "channel", 3, "JSON 语法错误"},
    {"not_an_object", "[]", "", "", 0, "应为一个对象"},
    {"unknown_top_key", "{\"rules\": [],\n \"rule\": []}", "", "rule", 2, "未知的键"},
    {"repeated_key", "{\"rules\": [{\"name\": \"a\",\n \"when\": {\"channel\": 1, \"above\": 1,\n \"above\": 2}}]}",
     "规则 1", "above", 3, "重复"},
    {"missing_name", "{\"rules\": [\n{\"when\": {\"channel\": 1, \"above\": 1}}]}", "规则 1", "name", 2, "缺少"},
    {"same_name_twice",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1}},\n"
     "{\"name\": \"a\", \"when\": {\"channel\": 2, \"above\": 1}}]}",
     "a", "name", 2, "与规则 1 同名"},
    {"channel_5", "{\"rules\": [{\"name\": \"a\",\n\"when\": {\"channel\": 5, \"above\": 1}}]}", "a", "channel", 2,
     "1 到 4"},
    {"channel_as_text", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": \"1\", \"above\": 1}}]}", "a", "channel",
     1, "应为整数"},
    {"level_beyond_range_in_volts", "{\"rules\": [{\"name\": \"a\",\n\n\"when\": {\"channel\": 1, \"above\": 5.5}}]}", "a",
     "above", 3, "超出本卡在此通道的量程"},
    {"level_beyond_range_in_bar", "{\"rules\": [{\"name\": \"p\", \"when\": {\"channel\": 4, \"below\": -14}}]}", "p",
     "below", 1, "超出本卡在此通道的量程"},
    {"window_between_two_codes", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"inside\": [1.0001, 1.0002]}}]}",
     "a", "inside", 1, "不会满足"},
    {"hysteresis_leaves_nothing_to_clear",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1,\n \"outside\": [0, 1], \"hysteresis\": 0.6}}]}", "a",
     "hysteresis", 2, "回差过大"},
    {"negative_hysteresis", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1, \"hysteresis\": -0.1}}]}",
     "a", "hysteresis", 1, "之间"},
    {"two_levels", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1,\n \"below\": 0}}]}", "a",
     "below", 2, "只能有其一"},
    {"no_level", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1}}]}", "a", "channel", 1, "之一"},
    {"window_of_one_level", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"inside\": [1]}}]}", "a", "inside",
     1, "两个数"},
    {"window_reversed", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"inside\": [2, 1]}}]}", "a", "inside",
     1, "L1 不能大于 L2"},
    {"unknown_key_in_when", "{\"rules\": [{\"name\": \"a\",\n \"when\": {\"channel\": 1, \"above\": 1, \"for\": 3}}]}", "a",
     "for", 2, "未知的键"},
    {"neither_channel_nor_input", "{\"rules\": [{\"name\": \"a\", \"when\": {}}]}", "a", "channel", 1, "\"input\""},
    {"port_2", "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 2, \"bit\": 0}}}]}", "d", "port", 1,
     "0 到 1"},
    {"bit_8", "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0,\n \"bit\": 8}}}]}", "d", "bit", 2,
     "0 到 7"},
    {"bad_edge", "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0, \"bit\": 1, \"edge\": \"up\"}}}]}", "d",
     "edge", 1, "\"rising\""},
    {"bad_hex_pattern", "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0, \"pattern\": \"0xg1\"}}}]}",
     "d", "pattern", 1, "十六进制"},
    {"pattern_outside_mask",
     "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0, \"pattern\": \"0x30\", \"mask\": \"0x0f\"}}}]}", "d",
     "pattern", 1, "mask"},
    {"bit_and_pattern", "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0, \"bit\": 1, \"pattern\": 1}}}]}",
     "d", "bit", 1, "只能有其一"},
    {"group_2",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1},\n \"then\": {\"output\": {\"group\": 2, \"bit\": 0}}}]}",
     "a", "group", 2, "0 到 1"},
    {"bad_mode",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1},\n \"then\": {\"output\": {\"group\": 0, \"bit\": 0,\n \"mode\": \"toggle\"}}}]}",
     "a", "mode", 3, "\"latch\""},
    {"pulse_without_pulse_ms",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1},\n \"then\": {\"output\": {\"group\": 0, \"bit\": 0, \"mode\": \"pulse\"}}}]}",
     "a", "mode", 2, "pulse_ms"},
    {"pulse_ms_with_hold",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1},\n \"then\": {\"output\": {\"group\": 0, \"bit\": 0, \"pulse_ms\": 5}}}]}",
     "a", "pulse_ms", 2, "只用于"},
    {"either_edge_cannot_hold",
     "{\"rules\": [{\"name\": \"d\", \"when\": {\"input\": {\"port\": 0, \"bit\": 1, \"edge\": \"either\"}},\n \"then\": {\"output\": {\"group\": 0, \"bit\": 0}}}]}",
     "d", "mode", 2, "either"},
    {"output_bit_owned_twice",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1}, \"then\": {\"output\": {\"group\": 1, \"bit\": 4}}},\n"
     "{\"name\": \"b\", \"when\": {\"channel\": 2, \"above\": 1},\n \"then\": {\"output\": {\"group\": 1, \"bit\": 4, \"mode\": \"latch\"}}}]}",
     "b", "bit", 3, "已属于规则“a”"},
    {"before_over_10s",
     "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1},\n \"then\": {\"capture\": {\"before_s\": 10.5, \"after_s\": 1}}}]}",
     "a", "before_s", 2, "0 到 10"},
    {"bad_stop", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1}, \"then\": {\"stop\": \"all\"}}]}",
     "a", "stop", 1, "\"acquisition\""},
    {"alarm_as_number", "{\"rules\": [{\"name\": \"a\", \"when\": {\"channel\": 1, \"above\": 1}, \"then\": {\"alarm\": 1}}]}",
     "a", "alarm", 1, "true 或 false"},
};

class RefusedFiles : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedFiles, NameTheRuleTheKeyTheLineAndTheReason)
{
    const RefusedRow &row = GetParam();
    const auto result = parseRules(row.file, barOn4());
    const auto *e = std::get_if<RuleError>(&result);
    ASSERT_NE(e, nullptr) << "accepted";
    EXPECT_EQ(e->rule, row.rule);
    EXPECT_EQ(e->key, row.key);
    EXPECT_EQ(e->line, row.line);
    EXPECT_NE(e->reason.find(row.reason), std::string::npos) << e->reason;
    const std::string message = e->message();
    EXPECT_NE(message.find(row.reason), std::string::npos) << message;
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
