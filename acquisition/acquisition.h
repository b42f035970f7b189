#pragma once
// The window's event handlers and the state the window owns. Every handler
// runs to completion on the UI thread and talks to the screen only through
// PanelView and to the card only through DllDef::driver.
#include "dlldef.h"
#include "panel_view.h"

#include <array>
#include <cstdint>
#include <string>

namespace adcard {

inline constexpr int kTableSize = 33; // ChannelCode, ChannelVolts, DIState, DOState

class Acquisition {
public:
    // `decimalSeparator` is the user's regional decimal separator (UTF-8),
    // used by the voltage captions.
    Acquisition(DllDef &dll, PanelView &view, std::string decimalSeparator = ".");

    void onLoad();
    void onStart();
    void onStop();
    void onExit();
    void onUnload();
    void onTick();
    void onDigitalOutput();

    void setDecimalSeparator(std::string sep) { decimalSeparator_ = std::move(sep); }
    const std::string &decimalSeparator() const { return decimalSeparator_; }

    DllDef &dll() { return dll_; }
    const DllDef &dll() const { return dll_; }

    int16_t BlockCount = 0;
    std::array<int32_t, kTableSize> ChannelCode{};
    std::array<float, kTableSize> ChannelVolts{};
    std::array<int16_t, kTableSize> DIState{};
    std::array<int16_t, kTableSize> DOState{};

private:
    void showStartFailure();
    void harvest(int16_t readyBlocks);
    void showReadout();
    void showDigitalInputs();

    DllDef &dll_;
    PanelView &view_;
    std::string decimalSeparator_;
};

} // namespace adcard
