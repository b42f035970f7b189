#pragma once
// The one place that opens the card's driver library and calls its entries.
//
// Why it works this way: the library is opened at the first call of any entry
// and each entry is looked up at its own first call, so a panel on a machine
// without the card still opens its window, and a library that lacks an entry
// the panel never reaches still works. A failure to open the library or to
// find an entry is remembered (never retried) and reported exactly once, as
// one line on standard error and through the failure callback; the call itself
// then fails quietly with the value the panel treats as "failed" or "nothing".
#include "driver/backend.h"
#include "driver/entries.h"

#include <array>
#include <string>

namespace adcard {

class DriverLoader final : public DriverBackend {
public:
    explicit DriverLoader(std::string library = kLibraryName);
    ~DriverLoader() override;
    DriverLoader(const DriverLoader &) = delete;
    DriverLoader &operator=(const DriverLoader &) = delete;

    void setFailureSink(FailureSink sink) override { sink_ = std::move(sink); }

    int32_t Initial(int32_t a, int32_t b, int32_t c, int32_t d) override;
    int32_t StartIntr(int16_t arg1, int32_t scansPerBlock, int16_t arg3, int16_t channelCount,
                      int32_t arg5, int32_t arg6, int16_t arg7) override;
    int32_t StopIntr() override;
    int16_t QueryBuf() override;
    int32_t ADResult(int16_t *buffer) override;
    int32_t GetLastADError() override;
    int16_t Tvo_DI(int32_t count, int16_t *states) override;
    int16_t Tvo_DO(int16_t group, int16_t value) override;

    bool libraryOpened() const override { return handle_ != nullptr; }
    bool libraryOpenAttempted() const override { return openAttempted_; }
    const std::string &library() const override { return library_; }
    std::string libraryPath() const override;
    const std::string &failures() const override { return failures_; }

private:
    void *resolve(Entry e);
    void report(DriverFailure failure);

    std::string library_;
    void *handle_ = nullptr;
    bool openAttempted_ = false;
    std::array<void *, kEntries.size()> bound_{};
    std::array<bool, kEntries.size()> lookedUp_{};
    // True when the latest call could not reach the library; GetLastADError
    // then answers with the loader's own code instead of the driver's.
    bool lastCallUnbound_ = false;
    FailureSink sink_;
    std::string failures_;
};

} // namespace adcard
