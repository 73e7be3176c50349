// The three ways a skftool command fails: a driver call answered an SAR code, the user
// asked for something that cannot be done, or the command line itself is wrong.
#pragma once

#include <stdexcept>
#include <string>

#include <cstdint>

namespace skftool {

// A driver function returned something other than SAR_OK.
class SkfError : public std::runtime_error
{
public:
    SkfError(uint32_t code, const std::string& function, const std::string& context);
    uint32_t code() const { return m_code; }
    const std::string& function() const { return m_function; }
    const std::string& context() const { return m_context; }

private:
    uint32_t m_code;
    std::string m_function;
    std::string m_context;
};

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
