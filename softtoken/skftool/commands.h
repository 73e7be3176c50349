// The table of skftool's commands: names, arguments, options, help texts and handlers.
#pragma once

#include "args.h"
#include "driver.h"

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace skftool {

// What a command handler gets: its parsed arguments, where to print, and the driver,
// loaded on first use so that store commands work without one.
class Context
{
public:
    Context(ParsedArgs args, std::string libraryPath, std::ostream& out);
    ~Context();

    const ParsedArgs& args() const { return m_args; }
    std::ostream& out() { return m_out; }
    const Driver& driver();

private:
    ParsedArgs m_args;
    std::string m_libraryPath;
    std::ostream& m_out;
    std::unique_ptr<Driver> m_driver;
};

using Handler = void (*)(Context&);

struct Command
{
    std::string name;
    std::string arguments; // "DEV APP CONT"
    size_t minPositionals;
    size_t maxPositionals;
    std::string summary; // one line for the overview
    std::string details; // the rest of the command's help
    std::vector<OptionSpec> options;
    Handler handler;
    bool usesDriver;
};

const std::vector<Command>& commandTable();
const Command* findCommand(const std::string& name);

// Store commands (cmd_store.cpp).
void runCreate(Context& context);
void runTokens(Context& context);
void runDelete(Context& context);
void runInsert(Context& context);
void runRemove(Context& context);
// Devices (cmd_device.cpp).
void runDevices(Context& context);
void runShow(Context& context);
void runLabel(Context& context);
// Applications and PINs (cmd_app.cpp).
void runAppCreate(Context& context);
void runAppDelete(Context& context);
void runPinVerify(Context& context);
void runPinChange(Context& context);
void runPinUnblock(Context& context);
// Containers and key pairs (cmd_container.cpp).
void runContainerCreate(Context& context);
void runContainerDelete(Context& context);
void runKeygen(Context& context);
void runImportEncKey(Context& context);
// Certificates (cmd_cert.cpp).
void runCertImport(Context& context);
void runCertExport(Context& context);
void runIssue(Context& context);
// Cryptographic services (cmd_crypto.cpp).
void runSign(Context& context);
void runVerify(Context& context);
void runEncrypt(Context& context);
void runDecrypt(Context& context);
void runDigest(Context& context);
void runRandom(Context& context);
void runCsr(Context& context);
// The demo token (cmd_demo.cpp).
void runDemo(Context& context);

// The user PIN of a command's --pin option, SKFTOOL_PIN or a prompt.
class Secret;
Secret userPinFor(const ParsedArgs& args);

} // namespace skftool
