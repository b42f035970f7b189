// The panel's host backend against the Windows host, adcard-host.exe, and
// the simulated card as adcard.dll (decorated stdcall exports) under wine.
#include "driver/error_codes.h"
#include "driver/host_driver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace adcard;

namespace {

// Where wine is on PATH; empty if nowhere.
std::string findWine()
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string candidate = dirs.substr(at, end - at) + "/wine";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return {};
}

HostOptions underWine(const std::string &wine, const std::string &dll)
{
    HostOptions o;
    o.command = {wine, std::string(ADPANEL_WINDOWS_DIR) + "/adcard-host.exe"};
    o.library = dll; // beside the program, where Windows looks first
    o.startBound = std::chrono::seconds(60); // a fresh wine prefix is made on the first run
    return o;
}

uint32_t stampOf(const int16_t *block) { return (block[0] & 0xFFFu) | (block[1] & 0xFFFu) << 12; }

} // namespace

TEST(Wine, WindowsHostAndCardDllServeThePanelsCalls)
{
    if (std::string(ADPANEL_WINDOWS_DIR).empty())
        GTEST_SKIP() << ADPANEL_WINDOWS_SKIP;
    const std::string wine = findWine();
    if (wine.empty())
        GTEST_SKIP() << "needs wine (dpkg --add-architecture i386; apt-get install wine wine32)";
    // Debian's wine runs a 32-bit program only through wine32's loader.
    if (::access("/usr/lib/wine/wine", X_OK) != 0)
        GTEST_SKIP() << "needs wine32, the 32-bit loader (dpkg --add-architecture i386; apt-get install wine32)";
    for (const auto &[k, v] : {std::pair{"WINEPREFIX", std::string(ADPANEL_WINDOWS_DIR) + "/wineprefix"},
                               {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                               {"ADCARD_SIM_SPEED", "20"}, {"ADCARD_SIM_SEQUENCE", "1"}, {"ADCARD_SIM_QUEUE", "256"}})
        ::setenv(k, v.c_str(), 1);

    HostDriver card(underWine(wine, "adcard.dll"));
    ASSERT_NE(card.Initial(320, 5, 0, 0), 0) << card.failures();
    EXPECT_NE(card.libraryPath().find("adcard.dll"), std::string::npos) << card.libraryPath();
    ASSERT_NE(card.StartIntr(10, 1000, 0, 4, 10000, 0, 1), 0) << card.GetLastADError();
    std::vector<int16_t> buffer(4002 + 16, 0x5A5A);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    uint32_t next = 0;
    while (next < 30 && std::chrono::steady_clock::now() < end) {
        for (int16_t n = card.QueryBuf(); n > 0; --n, ++next) {
            ASSERT_EQ(card.ADResult(buffer.data()), 1);
            ASSERT_EQ(stampOf(buffer.data() + 1), next);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(next, 30u) << "blocks in 30 s";
    EXPECT_TRUE(std::all_of(buffer.begin() + 4002, buffer.end(), [](int16_t v) { return v == 0x5A5A; }));
    card.Tvo_DO(0, 0xA5);
    int16_t states[2] = {0, 0};
    card.Tvo_DI(2, states);
    EXPECT_EQ(states[0], 0xA5);

    ::kill(card.hostPid(), SIGKILL);
    EXPECT_EQ(card.QueryBuf(), 0);
    EXPECT_EQ(card.GetLastADError(), code(PanelError::DriverHostLost));
    EXPECT_NE(card.hostLost(), "");

    HostDriver partial(underWine(wine, "adcard_no_do.dll"));
    ASSERT_NE(partial.Initial(320, 5, 0, 0), 0) << partial.failures();
    EXPECT_EQ(partial.Tvo_DO(0, 1), 0);
    EXPECT_EQ(partial.GetLastADError(), code(PanelError::DriverUnavailable));
    EXPECT_NE(partial.failures().find("_Tvo_DO@8"), std::string::npos) << partial.failures();
}
