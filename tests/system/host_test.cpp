// The driver through adcard-host: the simulated card end to end, and each
// way a host can fail against what the panel shows.
#include "driver/error_codes.h"
#include "driver/host_driver.h"
#include "history/history_window.h"
#include "panel/recording_control.h"
#include "tests/support/row_name.h"
#include "tests/system/system_support.h"

#include <QLabel>
#include <QCoreApplication>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace adcard::testing {
namespace {

using ::PrintTo;

const QString kHostLost = QString("Error=%1").arg(code(PanelError::DriverHostLost));

PanelOptions viaHost(std::vector<std::string> command, std::string library = {})
{
    PanelOptions o;
    o.host.emplace();
    o.host->command = std::move(command);
    o.host->library = std::move(library);
    return o;
}

QString statusLine(Program &p)
{
    HistoryWindow &h = p.program().openHistory();
    h.refreshDriver();
    return h.driverLabel()->text();
}

std::size_t countOf(const std::string &text, const std::string &what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(DriverHost, SimulatedCardEndToEndThenTheHostKilledWhileRecording)
{
    SimEnvironment env({{"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "256"}});
    const auto params = fixedParams(1, 3, true);
    Program p(viaHost({ADPANEL_HOST}, ADCARD_SIM_LIBRARY));
    ASSERT_TRUE(p.program().recording().start(QString(ADPANEL_TEST_TMP) + "/host-killed.h5", true));
    p.type("txtswChn", "0");
    p.type("txtSWO_0", "5A");
    p.click("cmdSWO");
    p.click("cmdStart");
    uint32_t next = 0;
    while (next < 30) {
        ASSERT_TRUE(p.waitForBlocks(1));
        const int32_t before = p.dll().RingPos;
        const int16_t count = p.acq().BlockCount;
        p.acq().onTick();
        for (int i = 0; i < p.acq().BlockCount - count; ++i, ++next) {
            const int16_t *slot = ringSlot(p.dll(), before, i);
            ASSERT_EQ(stampOf(slot), next);
            const auto want = expectedBlock(params, next);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), slot)) << "block " << next;
        }
    }
    EXPECT_TRUE(p.caption("lblDI_0").startsWith("5A")) << p.caption("lblDI_0").toStdString();
    EXPECT_EQ(statusLine(p), "驱动库: 模拟卡 " + QString(ADCARD_SIM_LIBRARY));

    const int16_t fetched = p.acq().BlockCount;
    ::kill(static_cast<HostDriver &>(p.loader()).hostPid(), SIGKILL);
    ::testing::internal::CaptureStderr();
    p.acq().onTick();
    p.acq().onTick();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(countOf(err, "adcard: "), 1u) << err;
    EXPECT_EQ(p.acq().BlockCount, fetched);
    RecordingSession *recorder = p.program().recording().recorder();
    // Stopped once the tick that met the loss has ended, then closed by the
    // writer: the count is final only when the file is.
    auto &recording = p.program().recording();
    // processEvents returns at once when nothing is queued: the wait is timed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((recording.active() || recording.closing()) && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(recording.active() || recording.closing());
    EXPECT_EQ(recorder->status().blocksWritten, fetched);
    EXPECT_TRUE(statusLine(p).startsWith("驱动宿主不可用")) << statusLine(p).toStdString();
}

// Processes of group `pgid` that have not ended (zombies have).
int runningInGroup(pid_t pgid)
{
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(e.path() / "stat");
        std::string line;
        const auto close = std::getline(in, line) ? line.rfind(')') : std::string::npos;
        char state = 0;
        long parent = 0, group = 0;
        if (close != std::string::npos && std::istringstream(line.substr(close + 1)) >> state >> parent >> group &&
            group == pgid && state != 'Z')
            ++n;
    }
    return n;
}

struct HostFault {
    const char *name;
    std::vector<std::string> command;
    std::string library;
    const char *reason; // in the one line on standard error
};

const std::string kNotExecutable = std::string(ADPANEL_TEST_TMP) + "/not-executable-host";

class HostFaults : public ::testing::TestWithParam<HostFault> {};

TEST_P(HostFaults, TheDriverIsLostForGoodAndThePanelSaysSo)
{
    std::ofstream(kNotExecutable) << "#!/bin/sh\n";
    ::chmod(kNotExecutable.c_str(), 0644);
    const HostFault &row = GetParam();
    ::testing::internal::CaptureStderr();
    Program p(viaHost(row.command, row.library));
    const pid_t host = static_cast<HostDriver &>(p.loader()).hostPid(); // started by the load
    p.click("cmdStart");
    p.acq().onTick();
    p.acq().onTick();
    p.click("cmdStart");
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(countOf(err, "adcard: "), 1u) << err;
    EXPECT_NE(err.find(row.reason), std::string::npos) << err;
    EXPECT_EQ(p.caption("lblBlock"), kHostLost);
    EXPECT_TRUE(p.window().control("lblBlock")->toolTip().contains("驱动宿主"));
    EXPECT_TRUE(statusLine(p).startsWith("驱动宿主不可用")) << statusLine(p).toStdString();
    // Nothing the host sent reached the panel's arrays.
    const auto zero = [](int16_t v) { return v == 0; };
    EXPECT_TRUE(std::all_of(p.dll().BlockBuf.begin(), p.dll().BlockBuf.end(), zero));
    EXPECT_TRUE(std::all_of(p.dll().HistoryRing.begin(), p.dll().HistoryRing.end(), zero));
    if (host > 0) {
        // Nothing the host started is left, and the host was reaped.
        for (int i = 0; i < 200 && runningInGroup(host) > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(runningInGroup(host), 0);
        EXPECT_EQ(::waitpid(host, nullptr, WNOHANG), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DriverHost, HostFaults,
    ::testing::Values(HostFault{"missing", {"/nonexistent-dir/adcard-host"}, {}, "No such file"},
                      HostFault{"not_executable", {kNotExecutable}, {}, "Permission denied"},
                      HostFault{"driver_scribbles_past_its_buffer", {ADPANEL_HOST}, ADPANEL_SCRIBBLER_LIBRARY,
                                "closed its output during ADResult"},
                      HostFault{"exit", {ADPANEL_FAKE_HOST, "exit"}, {}, "exited with status 3"},
                      HostFault{"hang", {ADPANEL_FAKE_HOST, "hang"}, {}, "no reply to QueryBuf within 2 s"},
                      // A wrapper script that runs the host without exec: killing the
                      // shell alone would leave the hung host behind.
                      HostFault{"hang_behind_a_wrapper", {"/bin/sh", "-c", "\"$0\" hang; exit 0", ADPANEL_FAKE_HOST},
                                {}, "no reply to QueryBuf within 2 s"},
                      HostFault{"garbage", {ADPANEL_FAKE_HOST, "garbage"}, {}, "claims 1651663207 bytes"},
                      HostFault{"short_read", {ADPANEL_FAKE_HOST, "short"}, {}, "closed its output during QueryBuf"},
                      HostFault{"oversize_claim", {ADPANEL_FAKE_HOST, "oversize"}, {},
                                "more samples than the buffer holds"}),
    kRowName);

} // namespace
} // namespace adcard::testing
