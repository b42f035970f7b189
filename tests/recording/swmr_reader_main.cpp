// A separate reader process for the recording tests: opens the file as a live
// SWMR reader, prints "open" or "failed", and holds it until killed. A forked
// child would share the parent's open HDF5 file instead of opening its own.
#include <hdf5.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const hid_t f = H5Fopen(argv[1], H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, H5P_DEFAULT);
    std::printf("%s\n", f >= 0 ? "open" : "failed");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
