#include "acquisition/acquisition.h"

#include "acquisition/checked.h"
#include "driver/error_codes.h"
#include "acquisition/formatting.h"
#include "acquisition/number_reader.h"
#include "acquisition/readout.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>

namespace adcard {

namespace {

constexpr int32_t kInitialArgs[4] = {320, 5, 0, 0};

constexpr AcqSettings kFixedSettings{
    .IntrArg1 = 10,
    .ScansPerBlock = 1000,
    .IntrArg3 = 0,
    .ChannelCount = 4,
    .IntrArg5 = 10000,
    .IntrArg6 = 0,
    .IntrArg7 = 1,
    .RingBlocks = 0, // set once at load, never by Start
};

constexpr int16_t kRingBlocks = 20;

// Operator-facing warnings for output texts that cannot be used.
constexpr std::string_view kGroupOutOfRange =
    "通道组超出范围：须为 -32768 至 32767 之间的数，未输出";
constexpr std::string_view kValueOutOfRange =
    "输出值超出范围：最多 8 位有效十六进制数字（32 位），未输出";

std::string ownedBitsText(int16_t group)
{
    return "输出组 " + std::to_string(group) + " 中由规则控制的位保持规则的状态，只写入了其余的位";
}

std::optional<int32_t> blockSamplesOf(const AcqSettings &s)
{
    return checkedMul32(s.ChannelCount, s.ScansPerBlock);
}

} // namespace

Acquisition::Acquisition(DllDef &dll, PanelView &view, std::string decimalSeparator)
    : dll_(dll), view_(view), decimalSeparator_(std::move(decimalSeparator))
{
}

void Acquisition::addBlockHook(BlockHook &hook)
{
    if (std::find(hooks_.begin(), hooks_.end(), &hook) == hooks_.end()) {
        hooks_.push_back(&hook);
        // A recorder added after the rules were armed still keeps them.
        if (const rules::RuleSet *armed = rules_.ruleSet())
            hook.rulesArmed(armed->text);
    }
}

void Acquisition::removeBlockHook(BlockHook &hook)
{
    hooks_.erase(std::remove(hooks_.begin(), hooks_.end(), &hook), hooks_.end());
}

void Acquisition::armRules(rules::RuleSet set, ChannelUnits units)
{
    rules_.arm(std::move(set), std::move(units), view_.timerEnabled() ? &dll_.settings : nullptr);
    if (!hooks_.empty()) {
        const std::string text = rules_.ruleSet()->text;
        notify([&](BlockHook &h) { h.rulesArmed(text); });
    }
}

void Acquisition::disarmRules()
{
    rules_.disarm(dll_.driver);
    notify([](BlockHook &h) { h.rulesArmed({}); });
}

void Acquisition::settleRules()
{
    rules_.settle(dll_.driver, [this](const RuleEvent &e) { notify([&](BlockHook &h) { h.ruleEvent(e); }); });
}

void Acquisition::onLoad()
{
    dll_.settings.RingBlocks = kRingBlocks;
    dll_.RingPos = 0;
    BlockCount = 0;
    // A card that fails here is noticed at the next Start.
    (void)dll_.driver.Initial(kInitialArgs[0], kInitialArgs[1], kInitialArgs[2], kInitialArgs[3]);
}

void Acquisition::showStartFailure()
{
    view_.setCaption(Caption::Block, failureText(dll_.driver.GetLastADError()));
}

void Acquisition::onStart()
{
    AcqSettings &s = dll_.settings;
    const int16_t ringBlocks = s.RingBlocks;
    s = kFixedSettings;
    s.RingBlocks = ringBlocks;

    CardDriver &drv = dll_.driver;
    (void)drv.StopIntr();
    if (drv.Initial(kInitialArgs[0], kInitialArgs[1], kInitialArgs[2], kInitialArgs[3]) == 0) {
        showStartFailure();
        return;
    }

    // Sizes in signed 32 bits, each step checked: BlockSamples + 2 elements
    // for the block buffer, BlockSamples * RingBlocks + 1 for the ring.
    const auto blockSamples = blockSamplesOf(s);
    const auto blockLen = blockSamples ? checkedAdd32(*blockSamples, 2) : std::nullopt;
    const auto ringSamples = blockSamples ? checkedMul32(*blockSamples, s.RingBlocks) : std::nullopt;
    const auto ringLen = ringSamples ? checkedAdd32(*ringSamples, 1) : std::nullopt;
    if (!blockLen || !ringLen || *blockSamples < 0 || *ringSamples < 0) {
        // The driver was initialised but is not started: nothing can be
        // harvested into arrays of the wrong size.
        view_.setCaption(Caption::Block, failureText(code(PanelError::SizingOverflow)));
        return;
    }
    try {
        std::vector<int16_t> block(static_cast<std::size_t>(*blockLen));
        std::vector<int16_t> ring(static_cast<std::size_t>(*ringLen));
        dll_.BlockBuf = std::move(block);
        dll_.HistoryRing = std::move(ring);
    } catch (const std::bad_alloc &) {
        view_.setCaption(Caption::Block, failureText(code(PanelError::OutOfMemory)));
        return;
    }
    handedOver_ = 0;
    fetched_ = 0;
    notify([&](BlockHook &h) { h.historyStarted(s); });
    rules_.historyStarted(s);

    if (drv.StartIntr(s.IntrArg1, s.ScansPerBlock, s.IntrArg3, s.ChannelCount, s.IntrArg5,
                      s.IntrArg6, s.IntrArg7) == 0) {
        showStartFailure();
        return;
    }
    view_.setTimerEnabled(true);
    notify([&](BlockHook &h) { h.acquisitionStarted(s); });
}

void Acquisition::onStop()
{
    (void)dll_.driver.StopIntr();
    rules_.release(dll_.driver);
    view_.setTimerEnabled(false);
    notify([](BlockHook &h) { h.acquisitionStopped(StopReason::Stop); });
}

void Acquisition::onExit()
{
    (void)dll_.driver.StopIntr();
    rules_.release(dll_.driver);
    view_.unload();
}

void Acquisition::onUnload()
{
    (void)dll_.driver.StopIntr();
    rules_.release(dll_.driver);
    notify([](BlockHook &h) { h.acquisitionStopped(StopReason::Unload); });
}

void Acquisition::onTick()
{
    const int16_t readyBlocks = dll_.driver.QueryBuf();
    if (readyBlocks == 0)
        return;

    const int stored = harvest(readyBlocks);
    // Saturates instead of wrapping: after about 55 minutes at the fixed
    // rate the count would otherwise leave 16 bits.
    BlockCount = saturatingAdd16(BlockCount, readyBlocks);

    view_.setCaption(Caption::Block, counterText(BlockCount));
    view_.setCaption(Caption::RingPos, counterText(dll_.RingPos));
    // A level rule's output goes out before this tick reads the inputs, so
    // that the tick's own reading shows it.
    settleRules();
    if (readyBlocks > 0) {
        showReadout();
        showDigitalInputs();
        if (rules_.engine()) {
            rules_.inputsRead(DIState[0], DIState[1], handedOver_ * dll_.settings.ScansPerBlock);
            settleRules();
        }
    }
    if (!hooks_.empty()) {
        const TickSummary tick{readyBlocks, BlockCount, dll_.RingPos, stored, readyBlocks > 0,
                               {DIState[0], DIState[1]}};
        notify([&](BlockHook &h) { h.tickEnded(tick); });
    }
    rules_.tickEnded();
}

int Acquisition::harvest(int16_t readyBlocks)
{
    int stored = 0;
    const auto blockSamples = blockSamplesOf(dll_.settings);
    if (!blockSamples || *blockSamples < 0)
        return stored;
    const auto ringSamples = checkedMul32(*blockSamples, dll_.settings.RingBlocks);
    const auto bs = static_cast<std::size_t>(*blockSamples);
    // The driver writes up to element BlockSamples of the buffer it is handed.
    if (dll_.BlockBuf.size() < bs + 2)
        return stored;

    int32_t &ringPos = dll_.RingPos;
    for (int b = 1; b <= readyBlocks; ++b) {
        ++fetched_;
        if (dll_.driver.ADResult(dll_.BlockBuf.data()) != 1) {
            notify([&](BlockHook &h) { h.blockMissed(fetched_); });
            continue;
        }
        // The ring's last element is never written: a block must end before it.
        const auto fits = [&] {
            return ringPos >= 0 && static_cast<std::size_t>(ringPos) + bs < dll_.HistoryRing.size();
        };
        if (!fits())
            ringPos = 0;
        if (!fits()) {
            notify([&](BlockHook &h) { h.blockMissed(fetched_); });
            continue;
        }
        std::copy_n(dll_.BlockBuf.begin() + 1, bs, dll_.HistoryRing.begin() + ringPos);
        ++stored;
        ++handedOver_;
        if (!hooks_.empty()) {
            const StoredBlock block{{dll_.HistoryRing.data() + ringPos, bs},
                                    bs ? static_cast<int32_t>(static_cast<std::size_t>(ringPos) / bs) : 0,
                                    handedOver_, fetched_};
            notify([&](BlockHook &h) { h.blockStored(block); });
        }
        rules_.blockStored({dll_.HistoryRing.data() + ringPos, bs},
                           (handedOver_ - 1) * int64_t{dll_.settings.ScansPerBlock});

        const auto next = checkedAdd32(ringPos, *blockSamples);
        ringPos = (next && ringSamples && *next < *ringSamples) ? *next : 0;
    }
    return stored;
}

void Acquisition::showReadout()
{
    (void)computeReadout(dll_.settings, dll_.BlockBuf, ChannelCode, ChannelVolts);
    for (int i = 0; i < 4; ++i)
        view_.setCaption(voltsCaption(i), voltsText(ChannelVolts[i], decimalSeparator_));
}

void Acquisition::showDigitalInputs()
{
    (void)dll_.driver.Tvo_DI(2, DIState.data());
    const int16_t p0 = DIState[0];
    const int16_t p1 = DIState[1];
    view_.setCaption(Caption::DI, portsSummaryText(p0, p1));
    view_.setCaption(Caption::DI_0, portRowText(p0));
    view_.setCaption(Caption::Bit, bitHeader());
    view_.setCaption(Caption::DI_1, portRowText(p1));
}

void Acquisition::onDigitalOutput()
{
    const GroupRead group = readGroupNumber(view_.text(TextBox::Group));
    if (group.status != ReadStatus::Ok) {
        view_.setInputProblem(TextBox::Group, kGroupOutOfRange);
        return;
    }
    const int16_t outGroup = group.group > 1 ? int16_t{1} : group.group;

    const ValueRead value = readHexValue(view_.text(TextBox::Value));
    if (value.status != ReadStatus::Ok) {
        view_.setInputProblem(TextBox::Value, kValueOutOfRange);
        return;
    }
    const auto typed = static_cast<int16_t>(value.value & 0xFFu);
    // With rules armed, the bits they own keep the rules' state.
    DOState[0] = rules_.operatorByte(outGroup, typed);

    view_.setInputProblem(TextBox::Group, {});
    view_.setInputProblem(TextBox::Value, DOState[0] == typed ? std::string{} : ownedBitsText(outGroup));
    (void)dll_.driver.Tvo_DO(outGroup, DOState[0]);
}

} // namespace adcard
