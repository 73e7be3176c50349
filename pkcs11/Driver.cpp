// Where the module finds its SKF drivers.
#include "Driver.h"

#include "ovrinkey_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace skfp11 {

namespace {

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::vector<std::string> Driver::configuredPaths()
{
    std::vector<std::string> paths;
    const char* fromEnvironment = std::getenv("SKFP11_DRIVER");
    if (fromEnvironment && *fromEnvironment) {
        std::istringstream list(fromEnvironment);
        for (std::string path; std::getline(list, path, ':');) {
            if (!path.empty()) {
                paths.push_back(path);
            }
        }
        return paths;
    }
    const char* configuration = std::getenv("SKFP11_DRIVERS_CONF");
    std::ifstream file(configuration && *configuration ? configuration : "/etc/skfp11/drivers.conf");
    for (std::string line; std::getline(file, line);) {
        const std::string path = trimmed(line.substr(0, line.find('#')));
        if (!path.empty()) {
            paths.push_back(path);
        }
    }
    if (access(OVRINKEY_DRIVER_PATH, F_OK) == 0) {
        paths.push_back(OVRINKEY_DRIVER_PATH);
    }
    return paths;
}

} // namespace skfp11
