// A file laid out ahead of its time (the next file of a series) waits closed
// to HDF5, its lock kept: a panel killed meanwhile leaves it a whole, empty
// recording that any HDF5 tool opens, not one that says it is being written.
#include "recording/recording_file.h"

#include "recording/hdf5_writing.h"

#include "platform/native_file.h"

namespace adcard {

using namespace writing;

void RecordingFile::park()
{
    const QuietErrors quiet;
    closeHdf5();
    trimToStoredEnd();
    nativefile::holdReaderLock(reserveFd_);
}

void RecordingFile::resume()
{
    const QuietErrors quiet;
    nativefile::dropReaderLock(reserveFd_);
    const std::string &name = tempPath_.empty() ? path_ : tempPath_;
    // Straight into SWMR: every object is there already. The row types
    // were kept; only the datasets open again.
    file_ = Hid(check(H5Fopen(name.c_str(), H5F_ACC_RDWR | H5F_ACC_SWMR_WRITE, fapl_.get()), "cannot open '" + name + "'"),
                H5Fclose);
    const hid_t g = file_.get();
    const auto open = [&](Table &t, const std::string &dset) {
        t.dset = Hid(check(H5Dopen2(g, dset.c_str(), H5P_DEFAULT), dset), H5Dclose);
    };
    namespace f = format;
    open(samples_, f::kSamples);
    open(blocks_, f::kBlocks);
    open(runs_, f::kRuns);
    open(markers_, f::kMarkers);
    open(digital_, f::kDigital);
    open(events_, f::kEvents);
    open(rules_, f::kRules);
    open(rulesText_, f::kRulesText);
    for (int l = 1; l <= int(levels_.size()); ++l)
        open(levels_[std::size_t(l - 1)], f::levelPath(l));
    ensureRoom(0);
    nativefile::holdReaderLock(reserveFd_);
}

} // namespace adcard
