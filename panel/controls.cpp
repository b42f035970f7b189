#include "panel/controls.h"

#include <array>
#include <cmath>

namespace adcard {

namespace {
using K = ControlKind;

// Frames come before their children so that a child's parent already exists.
constexpr std::array<ControlDef, 32> kControls{{
    {"Label1", 0, K::Label, "", "通道1:", 384, 192, 552, 180},
    {"lblAD", 0, K::FixedLabel, "", "0.000", 1248, 168, 576, 180},
    {"Label1", 1, K::Label, "", "通道2:", 384, 456, 552, 180},
    {"lblAD", 1, K::FixedLabel, "", "0.000", 1224, 480, 576, 180},
    {"Label1", 2, K::Label, "", "通道3:", 360, 744, 552, 180},
    {"lblAD", 2, K::FixedLabel, "", "0.000", 1248, 792, 576, 180},
    {"Label1", 3, K::Label, "", "通道4:", 336, 1032, 552, 180},
    {"lblAD", 3, K::FixedLabel, "", "0.000", 1248, 1056, 576, 180},
    {"cmdStart", -1, K::Button, "", "开始采集", 4230, 390, 936, 444},
    {"cmdStop", -1, K::Button, "", "停止采集", 4260, 900, 936, 444},
    {"cmdExit", -1, K::Button, "", "退出", 4290, 1470, 936, 444},
    {"Label4", -1, K::Label, "", "接收数据块数:", 72, 1416, 1176, 180},
    {"lblBlock", -1, K::Label, "", "Label2", 1440, 1416, 576, 180},
    {"Label5", -1, K::Label, "", "缓冲区指针:", 144, 1752, 996, 180},
    {"lblptr", -1, K::Label, "", "Label3", 1416, 1776, 576, 180},
    {"Label1", 12, K::Label, "", "DI:", 312, 2184, 288, 180},
    {"lblDI", -1, K::Label, "", "00", 864, 2184, 192, 180},

    {"Frame2", -1, K::Frame, "", "开关量输入", 60, 2496, 5640, 1452},
    {"Label1", 4, K::Label, "Frame2", "位:", 168, 336, 180, 192},
    {"lblBit", -1, K::Label, "Frame2", "Bit", 1152, 336, 180, 192},
    {"Label1", 6, K::Label, "Frame2", "开关量输入0：", 168, 696, 948, 192},
    {"lblDI_0", -1, K::Label, "Frame2", "DI0", 1152, 696, 240, 192},
    {"Label1", 7, K::Label, "Frame2", "开关量输入1：", 144, 1056, 948, 192},
    {"lblDI_1", -1, K::Label, "Frame2", "DI1", 1176, 1056, 240, 192},

    {"Frame1", -1, K::Frame, "", "开关量", 30, 3990, 5610, 1548},
    {"Label1", 5, K::Label, "Frame1", "开关量输出0(hex)：", 144, 264, 1296, 192},
    {"Label1", 9, K::Label, "Frame1", "通道组（0 或1）：", 192, 576, 1548, 180},
    {"txtswChn", -1, K::TextBox, "Frame1", "0", 2040, 504, 516, 300},
    {"Label1", 8, K::Label, "Frame1", "开关量输出值(hex)：", 48, 984, 1740, 180},
    {"txtSWO_0", -1, K::TextBox, "Frame1", "00", 2064, 912, 516, 288},
    {"cmdSWO", -1, K::Button, "Frame1", "输出", 3240, 660, 768, 336},

    {"TimerAD", -1, K::Timer, "", "", 0, 0, 0, 0},
}};
} // namespace

std::span<const ControlDef> controlTable() { return kControls; }

int twipsToPixels(int twips, double dpi)
{
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

std::string objectNameFor(std::string_view name, int index)
{
    std::string s(name);
    if (index >= 0)
        s += '(' + std::to_string(index) + ')';
    return s;
}

} // namespace adcard
