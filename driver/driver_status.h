#pragma once
// What the program can say about its driver library: whether it was opened,
// which file the dynamic loader chose, whether that is the simulated card,
// and the loader's failures. Read by whatever shows the driver's state.
#include <string>

namespace adcard {

class DriverBackend;

struct DriverStatus {
    enum class Kind { NotOpened, Loaded, Missing, HostLost }; // HostLost: the driver host crashed, hung or garbled a reply
    Kind kind = Kind::NotOpened;
    std::string path;     // the library actually loaded (Loaded)
    std::string failures; // the loader's failure lines, in order
};

// The loader's state as of now.
DriverStatus driverStatus(const DriverBackend &loader);

// The file the dynamic loader opened, or the name it was asked for.
std::string loadedLibrary(const DriverBackend &loader);

// Whether a library path is the simulated card: it lives in a folder of its
// own, adcard-sim/ when installed and simcard/ in a build tree.
bool isSimulatedCard(const std::string &path);

} // namespace adcard
