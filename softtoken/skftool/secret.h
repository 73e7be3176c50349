// PINs and keys held in memory that is wiped when they are dropped, and the three places
// a PIN comes from: an option, an environment variable, or a prompt without echo.
#pragma once

#include <string>
#include <vector>

namespace skftool {

class ParsedArgs;

// A string wiped with OPENSSL_cleanse when it is destroyed or replaced.
class Secret
{
public:
    Secret() = default;
    explicit Secret(std::string value);
    ~Secret();
    Secret(const Secret& other);
    Secret& operator=(const Secret& other);

    const std::string& str() const { return m_value; }
    // The driver's prototypes take LPSTR although they never write through it.
    char* c_str() { return &m_value[0]; }
    bool empty() const { return m_value.empty(); }

private:
    void wipe();
    std::string m_value;
};

// Bytes wiped when dropped: symmetric keys, private keys in transit.
class SecretBytes
{
public:
    SecretBytes() = default;
    explicit SecretBytes(size_t size);
    ~SecretBytes();
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    std::vector<unsigned char>& bytes() { return m_bytes; }
    const std::vector<unsigned char>& bytes() const { return m_bytes; }
    unsigned char* data() { return m_bytes.data(); }
    size_t size() const { return m_bytes.size(); }

private:
    std::vector<unsigned char> m_bytes;
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
