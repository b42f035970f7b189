#include "recording/retention.h"

#include "recording/disk_space.h"
#include "recording/reading_support.h"
#include "recording/series_naming.h"

#include "platform/native_file.h"

#include <hdf5.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace adcard {

namespace {

std::string durationText(int64_t ns)
{
    return series::splitText(ns, 0);
}

} // namespace

std::string sizeText(int64_t bytes)
{
    static constexpr const char *kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double v = double(bytes);
    int u = 0;
    while (v >= 1024 && u < 4) {
        v /= 1024;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", v, kUnits[u]);
    return text;
}

Retention::Retention(std::string basePath, RetentionPolicy policy)
    : basePath_(std::move(basePath)), folder_(series::folderOf(basePath_)), policy_(policy)
{
}

void Retention::learn(const std::string &path, int64_t seriesStartNs, int64_t place, int64_t endNs)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Its time of change is read at the next listing; until then, none.
    known_[name] = Known{-1, true, seriesStartNs, place, endNs};
}

Retention::Known Retention::readFile(const std::string &path, int64_t mtimeNs) const
{
    Known k;
    k.mtimeNs = mtimeNs;
    k.endNs = mtimeNs;
    const format::QuietErrors quiet;
    const Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_file_locking(fapl.get(), false, true);
    Hid file(H5Fopen(path.c_str(), H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, fapl.get()), H5Fclose);
    if (!file.valid())
        file = Hid(H5Fopen(path.c_str(), H5F_ACC_RDONLY, fapl.get()), H5Fclose);
    if (!file.valid()) {
        H5Eclear2(H5E_DEFAULT);
        return k; // not HDF5, or not readable: not ours to delete
    }
    if (const auto s = reading::seriesOf(file.get())) {
        k.series = true;
        k.startNs = s->startNs;
        k.place = s->place;
    }
    return k;
}

std::vector<Retention::Candidate> Retention::candidates(int64_t seriesStartNs, const std::vector<std::string> &inUse)
{
    std::vector<Candidate> out;
    std::map<std::string, Known> seen;
    for (const disk::Entry &e : disk::listFiles(folder_)) {
        if (!series::nameOfSeries(basePath_, e.name))
            continue;
        const std::string path = folder_ + "/" + e.name;
        // In the same folder: the name says which file it is.
        const bool used = std::any_of(inUse.begin(), inUse.end(), [&](const std::string &u) {
            return u.size() >= e.name.size() && u.compare(u.size() - e.name.size(), e.name.size(), e.name) == 0 &&
                   (u.size() == e.name.size() || u[u.size() - e.name.size() - 1] == '/' ||
                    u[u.size() - e.name.size() - 1] == '\\');
        });
        if (used)
            continue;
        auto it = known_.find(e.name);
        Known k;
        if (it != known_.end() && (it->second.mtimeNs == e.mtimeNs || it->second.mtimeNs == -1)) {
            k = it->second;
            k.mtimeNs = e.mtimeNs;
        } else {
            k = readFile(path, e.mtimeNs);
        }
        seen[e.name] = k;
        if (!k.series || k.startNs > seriesStartNs)
            continue;
        out.push_back({path, k});
    }
    known_ = std::move(seen); // what is gone is forgotten
    std::sort(out.begin(), out.end(), [](const Candidate &a, const Candidate &b) {
        return a.known.startNs != b.known.startNs ? a.known.startNs < b.known.startNs : a.known.place < b.known.place;
    });
    return out;
}

std::vector<Retention::Deleted> Retention::apply(int64_t nowNs, int64_t seriesStartNs,
                                                 const std::vector<std::string> &inUse,
                                                 std::vector<std::string> &problems)
{
    std::vector<Deleted> deleted;
    if (!policy_.any())
        return deleted;
    std::vector<Candidate> files = candidates(seriesStartNs, inUse);
    const auto remove = [&](const Candidate &c, std::string why) {
        // Another panel's, or a program's, file being written is not ours.
        if (nativefile::otherWriter(c.path) != nativefile::Writer::None)
            return false;
        if (const int err = disk::removeFile(c.path); err != 0) {
            problems.push_back("cannot delete '" + c.path + "' to keep the disk from filling: " + std::strerror(err));
            return false;
        }
        known_.erase(c.path.substr(c.path.find_last_of("/\\") + 1));
        deleted.push_back({c.path, std::move(why)});
        return true;
    };
    std::size_t next = 0;
    if (policy_.keepNs > 0) {
        for (; next < files.size(); ++next) {
            const Candidate &c = files[next];
            if (c.known.endNs >= nowNs - policy_.keepNs)
                break; // oldest first: the rest are younger
            (void)remove(c, "older than " + durationText(policy_.keepNs));
        }
    }
    if (policy_.keepFreeBytes > 0) {
        for (int64_t free = disk::freeBytes(folder_); free >= 0 && free < policy_.keepFreeBytes && next < files.size();
             ++next) {
            if (remove(files[next], "less than " + sizeText(policy_.keepFreeBytes) + " free"))
                free = disk::freeBytes(folder_);
        }
    }
    return deleted;
}

DiskWatch::Reading DiskWatch::update(int64_t bytesWritten, Clock::time_point now, std::vector<std::string> &notices)
{
    return update(disk::freeBytes(folder_), bytesWritten, now, notices);
}

DiskWatch::Reading DiskWatch::update(int64_t freeBytes, int64_t bytesWritten, Clock::time_point now,
                                     std::vector<std::string> &notices)
{
    samples_.push_back({now, bytesWritten});
    while (samples_.size() > 2 && now - samples_.front().at > std::chrono::seconds{60})
        samples_.pop_front();
    Reading r;
    r.freeBytes = freeBytes;
    const double span = std::chrono::duration<double>(now - samples_.front().at).count();
    const int64_t grew = bytesWritten - samples_.front().bytes;
    if (freeBytes < 0 || span < 1 || grew <= 0)
        return r;
    const double rate = double(grew) / span;
    r.secondsToFull = double(freeBytes) / rate;
    const auto warn = [&](bool &warned, double within) {
        if (warned || r.secondsToFull >= within)
            return;
        warned = true;
        char minutes[32];
        std::snprintf(minutes, sizeof minutes, "%.0f", r.secondsToFull / 60);
        notices.push_back("the disk of '" + folder_ + "' will be full in about " + minutes + " minutes at " +
                          sizeText(int64_t(rate)) + "/s (" + sizeText(freeBytes) + " free)");
    };
    // The nearer one first: a disk found nearly full says so once, not twice.
    warn(warnedTenMinutes_, 600);
    if (warnedTenMinutes_)
        warnedHour_ = true;
    warn(warnedHour_, 3600);
    return r;
}

} // namespace adcard
