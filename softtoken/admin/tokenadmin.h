// The soft token's store commands (create, list, delete, insert and remove tokens), so a
// tool manages the store folder without opening SQLite itself. Every failure throws
// std::runtime_error with a plain sentence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softskf::admin {

// $SOFTSKF_DIR, else ${XDG_DATA_HOME:-$HOME/.local/share}/softskf; created 0700. An
// existing folder is used only when it is a real folder of this user, closed to others.
std::string storeDir();

struct TokenOptions
{
    std::string serial;
    std::string label = "Velkora Z Idi";
    uint32_t capacityBytes = 256 * 1024;
    // 16 bytes, default "1234567812345678"; empty also means the default.
    std::vector<uint8_t> devAuthKey{'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};
};

// Creates tokens/<serial>.db: an empty token without applications. It is built under a
// temporary name and appears under its own only when complete.
void createToken(const TokenOptions& options);

struct TokenSummary
{
    std::string serial;
    std::string label;
    std::string deviceName; // empty when not plugged in
    uint32_t capacityBytes = 0;
    uint32_t freeBytes = 0;
    std::string problem; // why the token cannot be used; empty for a sound token
    // The file itself is damaged or not a token; false when the problem is around it (a
    // read-only file, a full device) and the token works again once that is mended.
    bool broken = false;
};

// Every token; one whose database cannot be read is listed with its problem.
std::vector<TokenSummary> listTokens();

// Why a token (by device name or serial) cannot be used now, as a person can act on it:
// a full device, a read-only file, a damaged or unreadable database; empty when it is
// sound or not in this store.
std::string tokenProblem(const std::string& deviceNameOrSerial);

// Deletes the token's database and its presence file.
void deleteToken(const std::string& serial);

// Plugs a token in: writes present/<deviceName> containing the serial.
void insertToken(const std::string& serial, const std::string& deviceName);

// Pulls a token out, named by its device name or its serial.
void removeToken(const std::string& deviceNameOrSerial);

// The device name a token gets when none is chosen: "VK-<serial>".
std::string defaultDeviceName(const std::string& serial);

} // namespace softskf::admin
