#pragma once
// The window's event handlers and the state the window owns. Every handler
// runs to completion on the UI thread and talks to the screen only through
// PanelView and to the card only through DllDef::driver.
#include "acquisition/block_hook.h"
#include "acquisition/dlldef.h"
#include "acquisition/panel_view.h"
#include "acquisition/rule_runner.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

    // Observers of the data, called in the order they were added. The hook
    // must outlive the acquisition or be removed first.
    void addBlockHook(BlockHook &hook);
    void removeBlockHook(BlockHook &hook);

    // The armed rules: evaluated over every block this acquisition stores,
    // and over the inputs it reads.
    RuleRunner &rules() { return rules_; }
    const RuleRunner &rules() const { return rules_; }
    // Arms `set` from now on (at once when acquiring), with the channels'
    // present units; disarming returns the rules' bits to 0.
    void armRules(rules::RuleSet set, ChannelUnits units);
    void disarmRules();

    DllDef &dll() { return dll_; }
    const DllDef &dll() const { return dll_; }

    int16_t BlockCount = 0;
    std::array<int32_t, kTableSize> ChannelCode{};
    std::array<float, kTableSize> ChannelVolts{};
    std::array<int16_t, kTableSize> DIState{};
    std::array<int16_t, kTableSize> DOState{};

private:
    void showStartFailure();
    int harvest(int16_t readyBlocks); // blocks copied into the ring
    void showReadout();
    void showDigitalInputs();
    void settleRules();

    template <typename F> void notify(F &&f)
    {
        for (BlockHook *h : hooks_)
            f(*h);
    }

    DllDef &dll_;
    PanelView &view_;
    std::vector<BlockHook *> hooks_;
    // Blocks handed over and fetches tried since the last Start that
    // replaced the arrays.
    int64_t handedOver_ = 0;
    int64_t fetched_ = 0;
    std::string decimalSeparator_;
    RuleRunner rules_;
};

} // namespace adcard
