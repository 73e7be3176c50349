// Where every SKF client that serves any vendor's driver (the PKCS#11 module, the OpenSSL
// provider) finds its drivers.
#pragma once

#include "ovrinkey_paths.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace skfloader {

// The drivers to load: $SKFP11_DRIVER (paths separated by ':') when set and not empty, else
// the paths listed in $SKFP11_DRIVERS_CONF (default /etc/skfp11/drivers.conf, one per line,
// '#' starts a comment) and the manager's fixed driver path when it exists.
inline std::vector<std::string> configuredDriverPaths()
{
    const auto trimmed = [](const std::string& text) {
        const size_t first = text.find_first_not_of(" \t\r");
        if (first == std::string::npos) {
            return std::string();
        }
        return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    };
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

} // namespace skfloader
