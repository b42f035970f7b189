#pragma once
// The driver in a process of its own: each entry is sent to adcard-host,
// which calls the library there, and its reply is waited for within a bound.
//
// Why: a driver that crashes, hangs or scribbles over memory then takes only
// the host down, and a 32-bit Windows DLL can serve a 64-bit panel. The host
// is started at the first call of any entry, as the library is opened in
// process; it binds each entry at its first call with the same DriverLoader,
// so both backends fail in the same ways. A host that cannot be started,
// ends, does not answer within the bound or answers nonsense is lost for
// good: one line goes to standard error, the failure sink hears of it, and
// every later call fails quietly (GetLastADError gives DriverHostLost). It
// is never started again behind the operator's back.
#include "driver/backend.h"
#include "driver/child_process.h"
#include "driver/host_protocol.h"

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace adcard {

struct HostOptions {
    // The host program and any arguments before the library's name.
    std::vector<std::string> command{"adcard-host"};
    std::string library; // empty: the host's own default name
    std::chrono::milliseconds callBound{2000};
    // The host's greeting after its start: an emulator may take seconds.
    std::chrono::milliseconds startBound{10000};
};

class HostDriver final : public DriverBackend {
public:
    explicit HostDriver(HostOptions options);
    ~HostDriver() override;
    HostDriver(const HostDriver &) = delete;
    HostDriver &operator=(const HostDriver &) = delete;

    int32_t Initial(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int32_t StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3, int16_t channelCount, int32_t arg5,
                      int32_t arg6, int16_t arg7) override;
    int32_t StopIntr() override;
    int16_t QueryBuf() override;
    int32_t ADResult(int16_t *buffer) override;
    int32_t GetLastADError() override;
    int16_t Tvo_DI(int32_t count, int16_t *states) override;
    int16_t Tvo_DO(int16_t group, int16_t value) override;

    void setFailureSink(FailureSink sink) override { sink_ = std::move(sink); }
    bool libraryOpened() const override { return (state_ & host::kOpened) != 0; }
    bool libraryOpenAttempted() const override { return (state_ & host::kOpenAttempted) != 0; }
    const std::string &library() const override { return library_; }
    std::string libraryPath() const override { return path_; }
    const std::string &failures() const override { return failures_; }
    std::string hostLost() const override { return lost_; }

    // For tests: the host's process id while it runs, else -1.
    int hostPid() const { return child_ ? child_->pid() : -1; }

private:
    // Sends one request and takes its reply, copying its buffer into `into`;
    // false (the host is then lost) on any failure.
    bool call(host::Op op, std::initializer_list<int32_t> args, std::span<int16_t> into, int32_t &result);
    bool ensureStarted();
    // Reads one whole reply to `op` carrying `elements` buffer elements.
    bool receive(host::Op op, std::size_t elements, std::chrono::milliseconds bound, host::Reply &reply);
    void lose(const std::string &what, bool started);
    void report(const DriverFailure &failure);

    HostOptions options_;
    std::string library_;
    std::unique_ptr<ChildProcess> child_;
    bool startAttempted_ = false;
    std::string lost_;
    uint8_t state_ = 0;
    std::string path_;
    std::string failures_;
    FailureSink sink_;
    // The panel's block buffer, BlockSamples + 2 elements, as the latest
    // StartIntr's settings size it.
    std::size_t blockBufferElements_ = 0;
    std::vector<uint8_t> frame_;
};

} // namespace adcard
