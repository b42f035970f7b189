#pragma once
// Shared pieces of the end-to-end tests: the real window on the offscreen
// platform, the real loader and the simulated card.
#include "simcard/block_generator.h"
#include "panel/frm_multibuf.h"
#include "driver/loader.h"
#include "panel/panel_app.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace adcard::testing {

constexpr int kBlockSamples = 4000;
constexpr int kRingSamples = kBlockSamples * 20;

// Sets the simulated card's variables for one test and removes them after.
class SimEnvironment {
public:
    explicit SimEnvironment(std::initializer_list<std::pair<const std::string, std::string>> vars) : vars_(vars)
    {
        clear();
        for (const auto &[k, v] : vars_)
            ::setenv(k.c_str(), v.c_str(), 1);
    }
    ~SimEnvironment() { clear(); }
    SimEnvironment(const SimEnvironment &) = delete;
    SimEnvironment &operator=(const SimEnvironment &) = delete;
    void set(const std::string &k, const std::string &v) { ::setenv(k.c_str(), v.c_str(), 1); }
    void unset(const std::string &k) { ::unsetenv(k.c_str()); }

private:
    static void clear()
    {
        for (const char *k : {"ADCARD_SIM_FAIL_INITIAL", "ADCARD_SIM_FAIL_STARTINTR", "ADCARD_SIM_FAIL_ADRESULT_EVERY",
                              "ADCARD_SIM_SPEED", "ADCARD_SIM_SEED", "ADCARD_SIM_NOISE", "ADCARD_SIM_QUEUE",
                              "ADCARD_SIM_SEQUENCE", "ADCARD_SIM_STATS"})
            ::unsetenv(k);
    }
    std::map<std::string, std::string> vars_;
};

inline std::string statsPath(const std::string &test)
{
    return std::string(ADPANEL_TEST_TMP) + "/stats-" + test + ".txt";
}

// The card's counters as written at its latest stop.
inline std::map<std::string, long long> readStats(const std::string &path)
{
    std::map<std::string, long long> stats;
    std::ifstream in(path);
    std::string key;
    long long value;
    while (in >> key >> value)
        stats[key] = value;
    return stats;
}

// The program as main builds it, on the simulated card or a given library.
class Program {
public:
    explicit Program(const std::string &library = ADCARD_SIM_LIBRARY)
    {
        PanelOptions options;
        options.library = library;
        program_ = std::make_unique<PanelProgram>(options);
    }
    explicit Program(const PanelOptions &options) : program_(std::make_unique<PanelProgram>(options)) {}
    PanelProgram &program() { return *program_; }
    FrmMultiBuf &window() { return program_->window(); }
    Acquisition &acq() { return window().acquisition(); }
    DllDef &dll() { return acq().dll(); }
    DriverBackend &loader() { return *program_->loader(); }

    void click(const char *button) { qobject_cast<QPushButton *>(window().control(button))->click(); }
    QString caption(const QString &name) const
    {
        return qobject_cast<QLabel *>(program_->window().control(name))->text();
    }
    void type(const char *box, const QString &text)
    {
        qobject_cast<QLineEdit *>(window().control(box))->setText(text);
    }
    // Waits, without running the event loop, until the card holds `n` blocks.
    bool waitForBlocks(int n, std::chrono::seconds limit = std::chrono::seconds(30))
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (loader().QueryBuf() < n) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    std::unique_ptr<PanelProgram> program_;
};

// The ring slot `blocks` blocks after the one starting at `fromPos`.
inline const int16_t *ringSlot(const DllDef &dll, int32_t fromPos, int blocks)
{
    return dll.HistoryRing.data() + (fromPos + blocks * kBlockSamples) % kRingSamples;
}

// The sequence number a stamped block carries in its first scan.
inline uint32_t stampOf(const int16_t *block)
{
    return (static_cast<uint32_t>(block[0]) & 0xFFFu) | ((static_cast<uint32_t>(block[1]) & 0xFFFu) << 12);
}

inline sim::SimBlockParams fixedParams(uint64_t seed, int32_t noise, bool stamp)
{
    sim::SimBlockParams p;
    p.channelCount = 4;
    p.scansPerBlock = 1000;
    p.scanRate = 10000;
    p.seed = seed;
    p.noise = noise;
    p.stampSequence = stamp;
    return p;
}

inline std::vector<int16_t> expectedBlock(const sim::SimBlockParams &p, uint64_t seq)
{
    std::vector<int16_t> out(kBlockSamples);
    sim::generateBlock(p, seq, out);
    return out;
}

} // namespace adcard::testing
