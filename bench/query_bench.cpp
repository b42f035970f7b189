// What the questions asked of a whole run cost, on a day-long file
// (make_recording FILE 864000 --gaps): each case cold (the file's pages
// dropped from the system's cache, a fresh reader) and warm (pages cached, a
// fresh reader), the median of a few runs. Channel 3 above 4.0 V finds only
// the file's rare pulses (72 in a day); the levels near the sines' top
// (3.680 V) find hundreds of crossings, or none.
//   query_bench FILE [REPEATS]
#include "query/query.h"
#include "query/spectrum.h"
#include "recording/recording_reader_impl.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace adcard;

std::string file;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Drops the file's clean pages from the system's cache: a cold read.
void dropCache()
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

struct Opened {
    std::unique_ptr<RecordingReader> reader;
    std::unique_ptr<RecordedRun> run;
};

Opened open()
{
    std::string why;
    Opened o{std::unique_ptr<RecordingReader>(openRecording(file.c_str(), &why)), nullptr};
    if (o.reader)
        o.run = o.reader->openRun(1, why);
    if (!o.run) {
        std::fprintf(stderr, "query_bench: %s: %s\n", file.c_str(), why.c_str());
        std::exit(1);
    }
    return o;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Times `body` (opening included) cold and warm; prints one line.
void measure(const char *name, int repeats, const std::function<std::string()> &body)
{
    std::vector<double> cold, warm;
    std::string what;
    for (int i = 0; i < repeats; ++i) {
        dropCache();
        auto t = Clock::now();
        what = body();
        cold.push_back(msSince(t));
        t = Clock::now();
        body();
        warm.push_back(msSince(t));
    }
    std::printf("%-44s cold %8.1f ms  warm %8.1f ms  (%s)\n", name, median(cold), median(warm), what.c_str());
    std::fflush(stdout);
}

std::string levelSearch(int channel, double volts)
{
    Opened o = open();
    const auto r = query::findCrossings(*o.run, {channel, volts, query::Edge::Rising, 0, 0, query::kWholeRun, 1000});
    return std::to_string(r.total) + " crossings";
}

std::string peaks()
{
    Opened o = open();
    const auto r = query::findPeaks(*o.run, {0, true, 10, 0, 0, query::kWholeRun});
    return std::to_string(r.peaks.size()) + " peaks";
}

std::string spectrum(int64_t scans)
{
    Opened o = open();
    const int64_t first = 35892 * 1000; // the first block after a hole: 996 whole blocks follow
    const auto r = query::spectrum(*o.run, {{0}, first, first + scans});
    return std::to_string(r.scans) + " scans used" + (r.hole ? ", a hole in the range" : "");
}

// A command from start to exit.
std::string command(const std::vector<std::string> &args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char *> argv{const_cast<char *>(ADCARD_REVIEW)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (!::freopen("/dev/null", "w", stdout))
            _exit(127);
        ::execv(ADCARD_REVIEW, argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

// A search with crossings by the million: progress seen, a cancel obeyed,
// results capped, memory bounded.
void heavySearch(int channel)
{
    Opened o = open();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::atomic<bool> cancel{false};
    std::atomic<int> reports{0};
    std::atomic<double> share{0};
    query::Control control{&cancel, [&](double s) {
                               ++reports;
                               share = s;
                           }};
    query::LevelResult r;
    Clock::time_point cancelledAt{};
    const auto t = Clock::now();
    std::thread worker([&] {
        r = query::findCrossings(*o.run, {channel, 0.0, query::Edge::Either, 0, 0, query::kWholeRun, 1000}, control);
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    cancelledAt = Clock::now();
    cancel = true;
    worker.join();
    const double latency = msSince(cancelledAt);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::printf("0 V either way on channel %d, cancelled after 2 s: %.1f ms to stop, %d progress reports "
                "(last %.1f %%), %lld crossings counted, %zu kept, peak RSS %ld KiB (was %ld)\n",
                channel + 1, latency, reports.load(), share * 100, (long long)r.total, r.crossings.size(),
                after.ru_maxrss, before.ru_maxrss);
    const auto t2 = Clock::now();
    r = query::findCrossings(*o.run, {channel, 0.0, query::Edge::Either, 0, 0, query::kWholeRun, 1000});
    getrusage(RUSAGE_SELF, &after);
    std::printf("0 V either way on channel %d, whole day: %.0f ms, %lld crossings, %zu kept, peak RSS %ld KiB\n",
                channel + 1, msSince(t2), (long long)r.total, r.crossings.size(), after.ru_maxrss);
    (void)t;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [REPEATS]\n", argv[0]);
        return 2;
    }
    file = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    measure("level search, channel 3 above 4.0 V", repeats, [] { return levelSearch(2, 4.0); });
    measure("level search, channel 1 above 3.681 V", repeats, [] { return levelSearch(0, 3.681); });
    measure("level search, channel 4 above 3.679 V", repeats, [] { return levelSearch(3, 3.679); });
    measure("level search, channel 1 above 3.679 V", repeats, [] { return levelSearch(0, 3.679); });
    measure("10 highest peaks of channel 1", repeats, peaks);
    measure("spectrum of 996,000 scans (channel 1)", repeats, [] { return spectrum(996000); });
    measure("spectrum of 1,000,000 scans (channel 1)", repeats, [] { return spectrum(1000000); });
    measure("adcard-review stats FILE --json", repeats, [] { return command({"stats", file, "--json"}); });
    const std::string csv = file + ".minute.csv";
    measure("adcard-review export, 1 minute", repeats,
            [&] { return command({"export", file, "--from", "3600", "--to", "3660", "-o", csv}); });
    std::remove(csv.c_str());
    heavySearch(0);
    return 0;
}
