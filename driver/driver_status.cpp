#include "driver/driver_status.h"

#include "driver/backend.h"

#include <filesystem>

namespace adcard {

std::string loadedLibrary(const DriverBackend &loader)
{
    std::string path = loader.libraryPath();
    return path.empty() ? loader.library() : path;
}

DriverStatus driverStatus(const DriverBackend &loader)
{
    DriverStatus s;
    s.failures = loader.failures();
    if (!loader.hostLost().empty()) {
        s.kind = DriverStatus::Kind::HostLost;
    } else if (loader.libraryOpened()) {
        s.kind = DriverStatus::Kind::Loaded;
        s.path = loadedLibrary(loader);
    } else if (loader.libraryOpenAttempted()) {
        s.kind = DriverStatus::Kind::Missing;
    }
    return s;
}

bool isSimulatedCard(const std::string &path)
{
    const std::string folder = std::filesystem::path(path).parent_path().filename().string();
    return folder == "adcard-sim" || folder == "simcard";
}

} // namespace adcard
