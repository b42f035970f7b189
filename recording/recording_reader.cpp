// Reads both layouts of a recording (docs/recording-format.md): the older one, a
// group per run with no summaries, which is summarised here in a background
// thread into memory, and the single-session one, whose summaries are read
// level by level, in blocks of entries, only where a view looks.
//
// Everything read from the file is checked before it sizes a buffer or
// indexes an array: a damaged or foreign file gets a reason, never a crash.
#include "recording/recording_reader_impl.h"

#include "recording/file_run.h"

#include "platform/native_file.h"

#include <cerrno>
#include <cstring>

namespace adcard {

namespace reading {

class FileReader final : public RecordingReader {
public:
    explicit FileReader(std::shared_ptr<RecordingState> st) : st_(std::move(st)) {}
    int formatVersion() const override { return st_->version; }
    std::vector<RecordedRunInfo> runs() const override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        std::vector<RecordedRunInfo> out;
        for (const RunPlace &p : st_->places())
            out.push_back(p.info);
        return out;
    }
    std::unique_ptr<RecordedRun> openRun(int number, std::string &error) override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        for (RunPlace &p : st_->places()) {
            if (p.info.number != number)
                continue;
            if (!p.error.empty()) {
                error = "run " + std::to_string(number) + ": " + p.error;
                return nullptr;
            }
            if (p.info.blocks == 0) {
                error = "run " + std::to_string(number) + " has no blocks";
                return nullptr;
            }
            return std::make_unique<FileRun>(st_, std::move(p));
        }
        error = "no run " + std::to_string(number);
        return nullptr;
    }
    std::vector<RecordedEvent> events(std::size_t most, int64_t &total) const override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        return readEvents(*st_, most, total);
    }
    std::vector<RecordedEvent> runEvents(int run, std::size_t most, int64_t &total) const override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        return readRunEvents(*st_, run, most, total);
    }
    std::vector<RecordedRules> rules() const override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        return readRules(*st_);
    }
    std::optional<SeriesMembership> series() const override { return st_->series; }
    bool refresh() override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        auto key = [&] {
            std::vector<int64_t> k;
            // Levels grow on their own, behind the rows.
            for (const RunPlace &p : st_->places()) {
                k.insert(k.end(), {p.info.number, p.info.blocks, p.info.open, p.info.missed, p.info.dropped});
                for (const auto &[first, end] : p.entries)
                    k.push_back(end - first);
            }
            // Markers and inputs may come in a flush of their own, with no
            // new rows: without them here, they would wait for the next rows.
            for (const Hid *h : {&st_->events, &st_->markers, &st_->digital})
                if (h->valid())
                    k.push_back(int64_t(length(h->get())));
            return k;
        };
        const auto before = key();
        std::vector<hid_t> sets;
        for (const V1Group &g : st_->groups)
            sets.insert(sets.end(), {g.samples.get(), g.blocks.get()});
        for (const Hid *h : {&st_->samples, &st_->blocks, &st_->runs, &st_->markers, &st_->digital, &st_->events,
                             &st_->rules, &st_->rulesText})
            sets.push_back(h->get());
        for (const Hid &h : st_->levels)
            sets.push_back(h.get());
        for (hid_t h : sets)
            if (h >= 0)
                H5Drefresh(h);
        if (st_->version >= 2)
            st_->readTable();
        st_->writer = openForWriting(st_->path);
        if (key() == before)
            return false;
        ++st_->generation;
        return true;
    }

private:
    std::shared_ptr<RecordingState> st_;
};

} // namespace reading

RecordingReader *openRecording(const char *path, std::string *error)
{
    using namespace reading;
    std::string why;
    auto fail = [&](std::string reason) -> RecordingReader * {
        if (error)
            *error = std::move(reason);
        return nullptr;
    };
    if (!path || !*path)
        return fail("no file name");
    int err = 0;
    const nativefile::Kind kind = nativefile::kindOf(path, err);
    if (kind == nativefile::Kind::Missing)
        return fail("no such file");
    if (kind == nativefile::Kind::Unknown)
        return fail(std::strerror(err));
    if (kind == nativefile::Kind::Directory)
        return fail("is a directory");
    if (const nativefile::Handle fd = nativefile::openRead(path, err); fd == nativefile::kNone)
        return fail(std::strerror(err));
    else
        nativefile::close(fd);
    if (!hdf5Signature(path))
        return fail("not an HDF5 file");

    const Quiet quiet;
    auto st = std::make_shared<RecordingState>();
    st->path = path;
    // The writer holds the file's lock while it records; a reader must not
    // ask for one. A file written before SWMR existed opens only plainly.
    const Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_file_locking(fapl.get(), false, true);
    st->file = Hid(H5Fopen(path, H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, fapl.get()), H5Fclose);
    if (!st->file.valid())
        st->file = Hid(H5Fopen(path, H5F_ACC_RDONLY, fapl.get()), H5Fclose);
    if (!st->file.valid())
        return fail("HDF5 cannot open it (damaged?)");
    st->writer = openForWriting(path);
    if (std::string wrong = layout(*st); !wrong.empty())
        return fail(wrong);
    return new FileReader(std::move(st));
}

} // namespace adcard
