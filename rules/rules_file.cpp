// Reading and checking a rules file. Every refusal names the rule, the key
// and the key's line, so that an operator with a text editor finds it.
#include "rules/json_lines.h"
#include "rules/rules.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace adcard::rules {

namespace {

using json = nlohmann::json;

struct Refusal {
    std::string key, path, reason;
};

// One JSON object of the file, and where it stands.
struct Obj {
    const json &j;
    std::string path;

    std::string at(std::string_view key) const { return path + "/" + pointerPart(key); }
    const json *find(std::string_view key) const
    {
        const auto it = j.find(key);
        return it == j.end() ? nullptr : &*it;
    }
};

[[noreturn]] void refuse(const Obj &o, std::string_view key, std::string reason)
{
    throw Refusal{std::string(key), o.at(key), std::move(reason)};
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

Obj object(const Obj &o, std::string_view key)
{
    const json *v = o.find(key);
    if (!v)
        refuse(o, key, "缺少此键");
    if (!v->is_object())
        refuse(o, key, "应为对象 {…}");
    return {*v, o.at(key)};
}

void onlyKeys(const Obj &o, std::initializer_list<std::string_view> known)
{
    for (const auto &[key, value] : o.j.items()) {
        bool ok = false;
        for (const std::string_view k : known)
            ok |= key == k;
        if (!ok)
            refuse(o, key, "未知的键");
    }
}

double real(const Obj &o, std::string_view key, double lo, double hi, double fallback)
{
    const json *v = o.find(key);
    if (!v)
        return fallback;
    if (!v->is_number())
        refuse(o, key, "应为数");
    const double d = v->get<double>();
    if (!std::isfinite(d) || d < lo || d > hi)
        refuse(o, key, "应在 " + number(lo) + " 到 " + number(hi) + " 之间");
    return d;
}

int integer(const Obj &o, std::string_view key, int lo, int hi, bool hexText = false)
{
    const json *v = o.find(key);
    if (!v)
        refuse(o, key, "缺少此键");
    long long n = 0;
    if (v->is_number_integer()) {
        n = v->get<long long>();
    } else if (hexText && v->is_string()) {
        const std::string s = v->get<std::string>();
        std::size_t used = 0;
        try {
            if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && std::isxdigit(static_cast<unsigned char>(s[2])))
                n = std::stoll(s.substr(2), &used, 16);
        } catch (const std::exception &) {
            used = 0;
        }
        if (used == 0 || used + 2 != s.size())
            refuse(o, key, "应为整数或十六进制文字，如 \"0x1f\"");
    } else {
        refuse(o, key, hexText ? "应为整数或十六进制文字，如 \"0x1f\"" : "应为整数");
    }
    if (n < lo || n > hi)
        refuse(o, key, "应在 " + std::to_string(lo) + " 到 " + std::to_string(hi) + " 之间");
    return static_cast<int>(n);
}

bool flag(const Obj &o, std::string_view key)
{
    const json *v = o.find(key);
    if (!v)
        return false;
    if (!v->is_boolean())
        refuse(o, key, "应为 true 或 false");
    return v->get<bool>();
}

// One of `values`, by the name the file writes it with (rules_write.cpp
// spells each name once, for reading and writing alike).
template <typename E, std::size_t N>
E choice(const Obj &o, std::string_view key, const E (&values)[N], std::string_view (*nameOf)(E), E fallback,
         const char *reason)
{
    const json *v = o.find(key);
    if (!v)
        return fallback;
    if (v->is_string())
        for (const E e : values)
            if (v->get<std::string>() == nameOf(e))
                return e;
    refuse(o, key, reason);
}

constexpr InputEdge kEdges[] = {InputEdge::Rising, InputEdge::Falling, InputEdge::Either};
constexpr OutputMode kModes[] = {OutputMode::Hold, OutputMode::Pulse, OutputMode::Latch};
constexpr StopWhat kStops[] = {StopWhat::Recording, StopWhat::Acquisition};

// The level or band, checked against what the channel can show.
void readLevel(const Obj &w, LevelWhen &lw, const Calibration &cal, ValueRange range)
{
    const std::pair<const char *, LevelKind> kinds[] = {
        {"above", LevelKind::Above}, {"below", LevelKind::Below}, {"outside", LevelKind::Outside}, {"inside", LevelKind::Inside}};
    const char *found = nullptr;
    for (const auto &[key, kind] : kinds) {
        if (!w.find(key))
            continue;
        if (found)
            refuse(w, key, std::string("与 \"") + found + "\" 只能有其一");
        found = key;
        lw.level.kind = kind;
    }
    if (!found)
        refuse(w, "channel", "需要 \"above\"、\"below\"、\"outside\" 或 \"inside\" 之一");
    const json &v = *w.find(found);
    const bool band = lw.level.kind == LevelKind::Outside || lw.level.kind == LevelKind::Inside;
    if (band && !(v.is_array() && v.size() == 2 && v[0].is_number() && v[1].is_number()))
        refuse(w, found, "应为两个数 [L1, L2]");
    if (!band && !v.is_number())
        refuse(w, found, "应为数");
    lw.level.level = band ? v[0].get<double>() : v.get<double>();
    lw.level.level2 = band ? v[1].get<double>() : 0.0;
    const double tie = 1e-9 * std::fabs(cal.scale);
    for (const double l : {lw.level.level, lw.level.level2}) {
        if (!std::isfinite(l) || l < range.lowest - tie || l > range.highest + tie)
            refuse(w, found, "电平 " + number(l) + " 超出本卡在此通道的量程（" + number(range.lowest) + " … " +
                                 number(range.highest) + "）");
        if (!band)
            break;
    }
    if (band && lw.level.level > lw.level.level2)
        refuse(w, found, "L1 不能大于 L2");
    lw.level.hysteresis = real(w, "hysteresis", 0.0, range.highest - range.lowest, 0.0);
    lw.forMs = real(w, "for_ms", 0.0, kMaxForMs, 0.0);
    // A condition no code can meet, or one that no code would clear, is a
    // mistake in the file, not a rule.
    const LevelTrigger t = levelTrigger(cal, lw.level);
    if (!t.fire.containsAny(kCardLowestCode, kCardHighestCode))
        refuse(w, found, "本卡的任何读数都不会满足此条件");
    if (!t.clear.containsAny(kCardLowestCode, kCardHighestCode))
        refuse(w, w.find("hysteresis") ? "hysteresis" : found, "回差过大：没有能使规则复位的读数");
}

void readInput(const Obj &w, InputWhen &in)
{
    const Obj i = object(w, "input");
    onlyKeys(i, {"port", "bit", "edge", "pattern", "mask"});
    in.port = integer(i, "port", 0, kPorts - 1);
    if (i.find("pattern") || i.find("mask")) {
        if (i.find("bit"))
            refuse(i, "bit", "与 \"pattern\" 只能有其一");
        if (i.find("edge"))
            refuse(i, "edge", "只用于 \"bit\"");
        in.match = true;
        in.pattern = integer(i, "pattern", 0, 0xff, true);
        in.mask = i.find("mask") ? integer(i, "mask", 0, 0xff, true) : 0xff;
        if ((in.pattern & ~in.mask) != 0)
            refuse(i, "pattern", "有 \"mask\" 之外的位，永远不会相符");
        return;
    }
    in.bit = integer(i, "bit", 0, kBits - 1);
    in.edge = choice(i, "edge", kEdges, edgeName, InputEdge::Rising, "应为 \"rising\"、\"falling\" 或 \"either\"");
}

void readWhen(const Obj &r, Rule &rule, const ChannelUnits &units, const Calibration &card)
{
    const Obj w = object(r, "when");
    if (w.find("input")) {
        onlyKeys(w, {"input"});
        InputWhen in;
        readInput(w, in);
        rule.when = in;
        return;
    }
    onlyKeys(w, {"channel", "above", "below", "outside", "inside", "hysteresis", "for_ms"});
    if (!w.find("channel"))
        refuse(w, "channel", "\"when\" 需要 \"channel\" 或 \"input\"");
    LevelWhen lw;
    lw.channel = integer(w, "channel", 1, kChannels);
    readLevel(w, lw, inUnit(card, channelUnit(units, lw.channel - 1)), channelRange(units, card, lw.channel));
    rule.when = lw;
}

void readOutput(const Obj &t, Rule &rule)
{
    const Obj o = object(t, "output");
    onlyKeys(o, {"group", "bit", "mode", "pulse_ms"});
    OutputAction a;
    a.group = integer(o, "group", 0, kGroups - 1);
    a.bit = integer(o, "bit", 0, kBits - 1);
    a.mode = choice(o, "mode", kModes, modeName, OutputMode::Hold, "应为 \"hold\"、\"pulse\" 或 \"latch\"");
    if (a.mode == OutputMode::Pulse) {
        if (!o.find("pulse_ms"))
            refuse(o, "mode", "\"pulse\" 需要 \"pulse_ms\"（毫秒）");
        a.pulseMs = integer(o, "pulse_ms", 1, kMaxPulseMs);
    } else if (o.find("pulse_ms")) {
        refuse(o, "pulse_ms", "只用于 \"mode\": \"pulse\"");
    }
    const auto *in = std::get_if<InputWhen>(&rule.when);
    if (a.mode == OutputMode::Hold && in && !in->match && in->edge == InputEdge::Either)
        refuse(o, "mode", "边沿 \"either\" 没有复位，不能 \"hold\"：请用 \"pulse\" 或 \"latch\"");
    rule.output = a;
}

void readThen(const Obj &r, Rule &rule)
{
    if (!r.find("then"))
        return; // a rule whose events are only listed
    const Obj t = object(r, "then");
    onlyKeys(t, {"mark", "output", "capture", "stop", "alarm"});
    rule.mark = flag(t, "mark");
    if (t.find("output"))
        readOutput(t, rule);
    if (t.find("capture")) {
        const Obj c = object(t, "capture");
        onlyKeys(c, {"before_s", "after_s"});
        rule.capture = CaptureAction{real(c, "before_s", 0.0, kMaxBeforeS, 0.0), real(c, "after_s", 0.0, kMaxAfterS, 0.0)};
    }
    rule.stop = choice(t, "stop", kStops, stopName, StopWhat::None, "应为 \"recording\" 或 \"acquisition\"");
    rule.alarm = flag(t, "alarm");
}

std::string nameProblem(const std::string &name)
{
    if (name.empty())
        return "名称不能为空";
    if (name.size() > kMaxNameBytes)
        return "名称过长（最多 " + std::to_string(kMaxNameBytes) + " 字节）";
    for (const char ch : name)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            return "名称含控制字符";
    return {};
}

void readRules(const json &doc, std::vector<Rule> &out, const ChannelUnits &units, const Calibration &card)
{
    const Obj root{doc, ""};
    if (!doc.is_object())
        throw Refusal{"", "", "文件应为一个对象 {\"rules\": […]}"};
    onlyKeys(root, {"rules"});
    const json *list = root.find("rules");
    if (!list || !list->is_array())
        refuse(root, "rules", list ? "应为数组 […]" : "缺少此键");
    for (std::size_t i = 0; i < list->size(); ++i) {
        const Obj r{(*list)[i], "/rules/" + std::to_string(i)};
        if (!r.j.is_object())
            throw Refusal{"", r.path, "应为对象 {\"name\": …, \"when\": …, \"then\": …}"};
        onlyKeys(r, {"name", "when", "then"});
        Rule rule;
        const json *name = r.find("name");
        if (!name || !name->is_string())
            refuse(r, "name", name ? "应为文字" : "缺少此键");
        rule.name = name->get<std::string>();
        if (const std::string p = nameProblem(rule.name); !p.empty())
            refuse(r, "name", p);
        for (std::size_t j = 0; j < out.size(); ++j)
            if (out[j].name == rule.name)
                refuse(r, "name", "与规则 " + std::to_string(j + 1) + " 同名");
        readWhen(r, rule, units, card);
        readThen(r, rule);
        for (const Rule &other : out)
            if (rule.output && other.output && rule.output->group == other.output->group &&
                rule.output->bit == other.output->bit)
                refuse(Obj{r.j, r.path + "/then/output"}, "bit",
                       "输出组 " + std::to_string(rule.output->group) + " 的位 " + std::to_string(rule.output->bit) +
                           " 已属于规则“" + other.name + "”");
        out.push_back(std::move(rule));
    }
}

// The rule a path lies in: its name where the file gives a readable one.
std::string ruleAt(const json *doc, const std::string &path)
{
    unsigned index = 0;
    if (std::sscanf(path.c_str(), "/rules/%u", &index) != 1)
        return {};
    if (doc && doc->is_object() && doc->contains("rules") && (*doc)["rules"].is_array() && index < (*doc)["rules"].size()) {
        const json &r = (*doc)["rules"][index];
        if (r.is_object() && r.contains("name") && r["name"].is_string() && nameProblem(r["name"].get<std::string>()).empty())
            return r["name"].get<std::string>();
    }
    return "规则 " + std::to_string(index + 1);
}

std::string lastKey(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    std::string key = slash == std::string::npos ? path : path.substr(slash + 1);
    return !key.empty() && std::isdigit(static_cast<unsigned char>(key[0])) ? std::string() : key;
}

} // namespace

std::string RuleError::message() const
{
    std::string s;
    if (!rule.empty())
        s += "规则“" + rule + "”";
    if (!key.empty())
        s += (s.empty() ? "键 \"" : "的 \"") + key + "\"";
    if (line > 0)
        s += (s.empty() ? "第 " : "（第 ") + std::to_string(line) + (s.empty() ? " 行" : " 行）");
    return s.empty() ? reason : s + "：" + reason;
}

uint8_t ownedOutputBits(const std::vector<Rule> &rules, int group)
{
    unsigned mask = 0;
    for (const Rule &rule : rules)
        if (rule.output && rule.output->group == group && rule.output->bit >= 0 && rule.output->bit < kBits)
            mask |= 1U << rule.output->bit;
    return static_cast<uint8_t>(mask);
}

ValueRange channelRange(const ChannelUnits &units, const Calibration &card, int channel)
{
    const Calibration cal = inUnit(card, channelUnit(units, channel - 1));
    const ValueSpan span = valueSpan(cal, kCardLowestCode, kCardHighestCode);
    return {span.low, span.high};
}

std::variant<RuleSet, RuleError> parseRules(std::string_view text, const ChannelUnits &units, const Calibration &card)
{
    const JsonLines lines = scanJsonLines(text);
    if (!lines.ok)
        return RuleError{ruleAt(nullptr, lines.errorPath), lastKey(lines.errorPath), lines.errorLine, lines.errorReason};
    const json doc = json::parse(text);
    std::vector<Rule> rules;
    try {
        readRules(doc, rules, units, card);
    } catch (const Refusal &r) {
        return RuleError{r.path.empty() ? std::string() : ruleAt(&doc, r.path), r.key, lines.lineOf(r.path), r.reason};
    }
    return RuleSet{std::move(rules), std::string(text)};
}

} // namespace adcard::rules
