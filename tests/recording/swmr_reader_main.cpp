// A separate reader process for the recording tests. A forked child would
// share the parent's open HDF5 file instead of opening its own.
//
//   swmr_reader FILE           opens FILE as a live SWMR reader, prints "open"
//                              or "failed", and holds it until killed.
//   swmr_reader FILE RUNS      watches FILE as a live reader would until RUNS
//                              runs have ended, checking at each look that
//                              nothing runs ahead of the samples; prints
//                              "looks L runs R rows N bad B" and exits.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

hsize_t extent(hid_t d)
{
    H5Drefresh(d);
    const hid_t space = H5Dget_space(d);
    hsize_t dims[2] = {};
    H5Sget_simple_extent_dims(space, dims, nullptr);
    H5Sclose(space);
    return dims[0];
}

// One int64 member of every row of a compound table, as it is now.
std::vector<long long> column(hid_t d, const char *name)
{
    std::vector<long long> out(extent(d));
    const hid_t t = H5Tcreate(H5T_COMPOUND, sizeof(long long));
    H5Tinsert(t, name, 0, H5T_NATIVE_LLONG);
    if (!out.empty())
        H5Dread(d, t, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data());
    H5Tclose(t);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    const hid_t f = H5Fopen(argv[1], H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT);
    if (argc == 2 || f < 0) {
        std::printf("%s\n", f >= 0 ? "open" : "failed");
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    const long long runsWanted = std::atoll(argv[2]);
    long long scans = 0;
    const hid_t attr = H5Aopen(f, "scans_per_block", H5P_DEFAULT);
    H5Aread(attr, H5T_NATIVE_LLONG, &scans);
    const hid_t runs = H5Dopen2(f, "runs", H5P_DEFAULT), blocks = H5Dopen2(f, "blocks", H5P_DEFAULT);
    const hid_t samples = H5Dopen2(f, "samples", H5P_DEFAULT);
    long long looks = 0, bad = 0, ended = 0, rows = 0, runCount = 0;
    // Gives up after about a minute rather than hang the test that runs it.
    for (; ended < runsWanted && looks < 30000; ++looks, ::usleep(2000)) {
        // In the reverse of the writer's order: what is read first must be
        // covered by what is read after it.
        long long runRows = 0, covered[8] = {};
        ended = runCount = 0;
        for (long long r : column(runs, "rows"))
            runRows += r, ++runCount;
        for (long long e : column(runs, "end_time_ns"))
            ended += e != 0;
        for (int l = 0; l < 8; ++l) {
            const hid_t d = H5Dopen2(f, ("summaries/level" + std::to_string(l + 1)).c_str(), H5P_DEFAULT);
            for (long long c : column(d, "count"))
                covered[l] += c;
            H5Dclose(d);
        }
        rows = static_cast<long long>(extent(blocks));
        const long long stored = static_cast<long long>(extent(samples));
        bad += runRows > rows;        // a run's row ahead of the blocks' rows
        bad += rows * scans > stored; // rows ahead of their samples
        for (long long n : covered)
            bad += n > stored;        // summaries ahead of the samples
    }
    std::printf("looks %lld runs %lld rows %lld bad %lld\n", looks, runCount, rows, bad);
    return 0;
}
