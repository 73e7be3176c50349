// The three ways a skftool command fails: a driver call answered an SAR code (the shared
// client layer's SarError), the user asked for something that cannot be done, or the
// command line itself is wrong.
#pragma once

#include "skf/client.h"

#include <stdexcept>
#include <string>

namespace skftool {

using skfclient::SarError;

// "SKF_X failed: SAR_NAME (0x...): a plain sentence (what it was about)".
std::string describe(const SarError& error);

// A failure outside the driver: a missing file, a token that already exists, bad data.
class ToolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The command line is malformed; the caller prints the command's usage as well.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace skftool
