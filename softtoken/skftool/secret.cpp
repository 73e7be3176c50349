// PINs and keys in wiped memory, and reading a PIN from an option, the environment or a
// terminal prompt without echo.
#include "secret.h"

#include "args.h"
#include "errors.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <termios.h>
#include <unistd.h>

namespace skftool {

Secret::Secret(std::string value)
    : m_value(std::move(value))
{
}

Secret::~Secret()
{
    wipe();
}

Secret::Secret(const Secret& other)
    : m_value(other.m_value)
{
}

Secret& Secret::operator=(const Secret& other)
{
    if (this != &other) {
        wipe();
        m_value = other.m_value;
    }
    return *this;
}

void Secret::wipe()
{
    if (!m_value.empty()) {
        OPENSSL_cleanse(&m_value[0], m_value.size());
    }
    m_value.clear();
}

SecretBytes::SecretBytes(size_t size)
    : m_bytes(size, 0)
{
}

SecretBytes::~SecretBytes()
{
    if (!m_bytes.empty()) {
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    }
}

namespace {

// Echo stays off only while the PIN is typed, and comes back even when reading fails.
class EchoOff
{
public:
    EchoOff()
    {
        if (tcgetattr(STDIN_FILENO, &m_saved) == 0) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoOff()
    {
        if (m_active) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        }
    }

private:
    termios m_saved{};
    bool m_active = false;
};

Secret promptForPin(const std::string& prompt)
{
    std::cerr << prompt << std::flush;
    std::string line;
    {
        EchoOff echoOff;
        std::getline(std::cin, line);
    }
    std::cerr << "\n";
    Secret pin(line);
    if (!line.empty()) {
        OPENSSL_cleanse(&line[0], line.size());
    }
    return pin;
}

} // namespace

Secret readPin(const ParsedArgs& args, const PinSource& source)
{
    if (args.has(source.option)) {
        return Secret(args.value(source.option));
    }
    if (const char* fromEnvironment = std::getenv(source.environment.c_str())) {
        return Secret(fromEnvironment);
    }
    if (!source.defaultValue.empty()) {
        return Secret(source.defaultValue);
    }
    if (isatty(STDIN_FILENO)) {
        return promptForPin(source.prompt);
    }
    throw UsageError("no PIN given: use " + source.option + " or set " + source.environment);
}

} // namespace skftool
