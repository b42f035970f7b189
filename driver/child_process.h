#pragma once
// A child process with its standard input and output on pipes to this one
// and its standard error shared: the driver host. The system calls (spawning,
// waiting, signals, polling) stay behind this class: child_process_posix.cpp
// and child_process_win32.cpp.
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace adcard {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;
    enum class Io { Ok, Closed, TimedOut, Failed };

    ChildProcess() = default;
    // Closes the child's input, gives it a moment to end, then kills it.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // argv[0] is searched for on PATH when it has no '/'. The child gets a
    // process group of its own, so a Ctrl+C at the terminal reaches only the
    // panel, which then ends it in order. False, with the reason, on failure.
    bool start(const std::vector<std::string> &argv, std::string &why);
    Io writeAll(std::span<const uint8_t> bytes, std::string &why);
    // Fills `bytes` completely, or fails at the deadline or the child's end.
    Io readExact(std::span<uint8_t> bytes, Clock::time_point deadline, std::string &why);
    // Kills the child's process group (what the child started too), reaps
    // the child (from a thread of its own if it outlives the kill by a
    // second), and says how it ended.
    std::string end();
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    // Descriptors on POSIX, handles on Windows.
    std::intptr_t toChild_ = -1;
    std::intptr_t fromChild_ = -1;
    // Windows: the process's handle and the read in flight.
    std::shared_ptr<void> native_;
    // What one read brought beyond what was asked: a reply's length field
    // and its body usually arrive together.
    std::vector<uint8_t> inbox_;
    std::size_t inboxAt_ = 0;
    std::size_t inboxEnd_ = 0;
};

} // namespace adcard
