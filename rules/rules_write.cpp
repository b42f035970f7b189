// Writing rules back as a file: what the dialog exports and saves, in the
// form parseRules reads.
#include "rules/rules.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace adcard::rules {

namespace {

using ojson = nlohmann::ordered_json;

std::string hex(int v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", v & 0xff);
    return text;
}

ojson whenJson(const Rule &r)
{
    ojson w = ojson::object();
    if (const auto *in = std::get_if<InputWhen>(&r.when)) {
        ojson i = ojson::object();
        i["port"] = in->port;
        if (in->match) {
            i["pattern"] = hex(in->pattern);
            i["mask"] = hex(in->mask);
        } else {
            i["bit"] = in->bit;
            i["edge"] = edgeName(in->edge);
        }
        w["input"] = i;
        return w;
    }
    const auto &lw = std::get<LevelWhen>(r.when);
    w["channel"] = lw.channel;
    const LevelCondition &c = lw.level;
    switch (c.kind) {
    case LevelKind::Above: w["above"] = c.level; break;
    case LevelKind::Below: w["below"] = c.level; break;
    case LevelKind::Outside: w["outside"] = {c.level, c.level2}; break;
    case LevelKind::Inside: w["inside"] = {c.level, c.level2}; break;
    }
    if (c.hysteresis != 0)
        w["hysteresis"] = c.hysteresis;
    if (lw.forMs != 0)
        w["for_ms"] = lw.forMs;
    return w;
}

ojson thenJson(const Rule &r)
{
    ojson t = ojson::object();
    if (r.mark)
        t["mark"] = true;
    if (r.output) {
        ojson o = ojson::object();
        o["group"] = r.output->group;
        o["bit"] = r.output->bit;
        o["mode"] = modeName(r.output->mode);
        if (r.output->mode == OutputMode::Pulse)
            o["pulse_ms"] = r.output->pulseMs;
        t["output"] = o;
    }
    if (r.capture)
        t["capture"] = ojson{{"before_s", r.capture->beforeS}, {"after_s", r.capture->afterS}};
    if (r.stop != StopWhat::None)
        t["stop"] = stopName(r.stop);
    if (r.alarm)
        t["alarm"] = true;
    return t;
}

} // namespace

std::string_view edgeName(InputEdge e)
{
    switch (e) {
    case InputEdge::Rising: return "rising";
    case InputEdge::Falling: return "falling";
    case InputEdge::Either: return "either";
    }
    return {};
}

std::string_view modeName(OutputMode m)
{
    switch (m) {
    case OutputMode::Hold: return "hold";
    case OutputMode::Pulse: return "pulse";
    case OutputMode::Latch: return "latch";
    }
    return {};
}

std::string_view stopName(StopWhat s)
{
    switch (s) {
    case StopWhat::None: return "";
    case StopWhat::Recording: return "recording";
    case StopWhat::Acquisition: return "acquisition";
    }
    return {};
}

std::string rulesJson(const std::vector<Rule> &rules)
{
    ojson list = ojson::array();
    for (const Rule &r : rules) {
        ojson rule = ojson::object();
        rule["name"] = r.name;
        rule["when"] = whenJson(r);
        rule["then"] = thenJson(r);
        list.push_back(rule);
    }
    const ojson doc{{"rules", list}};
    // A name cut inside a character elsewhere must not stop the export.
    return doc.dump(2, ' ', false, ojson::error_handler_t::replace) + "\n";
}

} // namespace adcard::rules
