// Reading a PIN from an option, a PIN file or descriptor, the environment or a terminal
// prompt without echo.
#include "secret.h"

#include "args.h"
#include "errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <cstdlib>
#include <iostream>

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace skftool {

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
    ossl::cleanse(line.data(), line.size());
    return pin;
}

// A PIN file others may read gives the PIN away as surely as --pin does; like ssh with a
// key file, say so (the PINs are still read: refusing would break a working script).
void warnWhenOthersMayRead(int fd, const std::string& path)
{
    struct stat status
    {
    };
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        std::cerr << "skftool: warning: the PIN file " << path << " is open to other users (mode " << mode
                  << "); make it private with chmod 600\n";
    }
}

// PINs from --pin-file or --pin-fd, read once and handed out a line at a time: the
// command line, seen by every user in ps, never holds them.
class PinLines
{
public:
    // The next PIN, or false when the command has no PIN source or it ran out.
    bool next(const ParsedArgs& args, Secret& pin)
    {
        if (!m_loaded) {
            load(args);
        }
        if (m_next >= m_lines.size()) {
            if (m_fromSource) {
                throw UsageError(m_sourceName + " holds " + std::to_string(m_lines.size())
                                 + " PIN line(s); this command needs one more");
            }
            return false;
        }
        pin = m_lines[m_next++];
        return true;
    }

private:
    void load(const ParsedArgs& args)
    {
        m_loaded = true;
        int fd = -1;
        bool owned = false;
        if (args.has("--pin-file")) {
            m_sourceName = "--pin-file " + args.value("--pin-file");
            fd = open(args.value("--pin-file").c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                throw ToolError("cannot read " + args.value("--pin-file") + ": " + std::strerror(errno));
            }
            owned = true;
            warnWhenOthersMayRead(fd, args.value("--pin-file"));
        } else if (args.has("--pin-fd")) {
            m_sourceName = "--pin-fd " + args.value("--pin-fd");
            fd = static_cast<int>(parseNumber(args.value("--pin-fd"), "--pin-fd"));
        } else {
            return;
        }
        m_fromSource = true;
        char chunk[256];
        // Reserved past what is read, so the text is never inside the string object itself,
        // where freeing it would not wipe it.
        ossl::SecureString buffer;
        buffer.reserve(4096 + 2 * sizeof chunk);
        for (;;) {
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                const std::string reason = std::strerror(errno);
                ossl::cleanse(chunk, sizeof chunk);
                if (owned) {
                    close(fd);
                }
                throw ToolError("cannot read the PINs from " + m_sourceName + ": " + reason);
            }
            if (got == 0 || buffer.size() > 4096) {
                break;
            }
            buffer.append(chunk, static_cast<size_t>(got));
        }
        ossl::cleanse(chunk, sizeof chunk);
        if (owned) {
            close(fd);
        }
        size_t start = 0;
        while (start < buffer.size()) {
            size_t end = buffer.find('\n', start);
            if (end == std::string::npos) {
                end = buffer.size();
            }
            size_t stop = end;
            if (stop > start && buffer[stop - 1] == '\r') {
                --stop;
            }
            m_lines.emplace_back(std::string_view(buffer).substr(start, stop - start));
            start = end + 1;
        }
    }

    bool m_loaded = false;
    bool m_fromSource = false;
    std::string m_sourceName;
    std::vector<Secret> m_lines;
    size_t m_next = 0;
};

PinLines& pinLines()
{
    static PinLines lines;
    return lines;
}

} // namespace

Secret readPin(const ParsedArgs& args, const PinSource& source)
{
    if (args.has(source.option)) {
        return Secret(args.value(source.option));
    }
    Secret fromLines;
    if (pinLines().next(args, fromLines)) {
        return fromLines;
    }
    if (const char* fromEnvironment = std::getenv(source.environment.c_str()); fromEnvironment && *fromEnvironment) {
        return Secret(fromEnvironment);
    }
    if (!source.defaultValue.empty()) {
        return Secret(source.defaultValue);
    }
    if (isatty(STDIN_FILENO)) {
        Secret pin = promptForPin(source.prompt);
        if (source.confirm) {
            Secret again = promptForPin("Repeat " + source.prompt);
            if (again.str() != pin.str()) {
                throw UsageError("the two PINs typed differ");
            }
        }
        return pin;
    }
    throw UsageError("no PIN given: use " + source.option + ", --pin-file, --pin-fd or set " + source.environment);
}

} // namespace skftool
