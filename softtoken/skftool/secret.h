// PINs held in memory that is wiped when they are dropped, and the three places a PIN
// comes from: an option, an environment variable, or a prompt without echo.
#pragma once

#include "ossl/Secure.h"

#include <string>
#include <string_view>
#include <vector>

namespace skftool {

class ParsedArgs;

// A PIN in memory that is wiped when it is dropped or replaced.
class Secret
{
public:
    Secret() = default;
    explicit Secret(std::string_view value)
        : m_value(value.data(), value.size())
    {
    }

    const ossl::SecureString& str() const { return m_value; }
    // The driver's prototypes take LPSTR although they never write through it.
    char* c_str() { return m_value.data(); }
    bool empty() const { return m_value.empty(); }

private:
    ossl::SecureString m_value;
};

// Where to look for one PIN.
struct PinSource
{
    std::string option; // "--pin"
    std::string environment; // "SKFTOOL_PIN"
    std::string prompt; // "User PIN: "
    std::string defaultValue; // used when nothing else is given; empty means "ask or fail"
    bool confirm = false; // a new PIN typed at a prompt is asked for twice
};

// In order: the option; the next line of --pin-file FILE or --pin-fd N (one PIN a line,
// in the order the command asks for them); the environment (unless empty); the default;
// a prompt without echo when standard input is a terminal. Throws UsageError when none
// gives a PIN.
Secret readPin(const ParsedArgs& args, const PinSource& source);

} // namespace skftool
