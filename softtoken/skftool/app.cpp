// skftool's top level: global options, the command dispatch, help and error reporting.
#include "app.h"

#include "commands.h"
#include "errors.h"

#include "ovrinkey_paths.h"

#include "admin/tokenadmin.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iomanip>
#include <ostream>

namespace skftool {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string defaultLibraryPath(const std::string& fixedDriverPath)
{
    const char* fromEnvironment = std::getenv("SKFTOOL_LIB");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : fixedDriverPath;
}

void printCommandLines(std::ostream& out, bool usesDriver)
{
    for (const Command& command : commandTable()) {
        if (command.usesDriver == usesDriver) {
            out << "  " << std::left << std::setw(18) << command.name << command.summary << "\n";
        }
    }
}

// A summary as a sentence: capitalised, with a full stop.
std::string sentence(std::string summary)
{
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    return summary + ".";
}

void printOptions(std::ostream& out, const std::vector<OptionSpec>& options)
{
    for (const OptionSpec& option : options) {
        const std::string head = option.name + (option.valueName.empty() ? "" : " " + option.valueName);
        if (head.size() < 30) {
            out << "  " << std::left << std::setw(30) << head << " " << option.help << "\n";
        } else {
            out << "  " << head << "\n" << std::string(33, ' ') << option.help << "\n";
        }
    }
}

// Every command under a heading of its own, its summary and details indented beneath,
// then its options: the manual page is made from this text (help2man), so it never lists
// other commands or options than the program has.
void printEveryCommand(std::ostream& out)
{
    for (const Command& command : commandTable()) {
        out << "\nskftool " << command.name << (command.arguments.empty() ? "" : " " + command.arguments)
            << (command.options.empty() ? "" : " [OPTIONS]") << ":\n  " << sentence(command.summary) << "\n";
        std::string details = command.details;
        for (size_t at = details.find('\n'); at != std::string::npos; at = details.find('\n', at + 3)) {
            details.replace(at, 1, "\n  ");
        }
        out << "  " << details << "\n";
        if (!command.options.empty()) {
            out << "\n";
            printOptions(out, command.options);
        }
    }
}

// The overview; with everyCommand, each command's help as well (--help-all).
void printOverview(std::ostream& out, const std::string& fixedDriverPath, bool everyCommand = false)
{
    out << "Usage: skftool [--lib PATH] COMMAND [ARGUMENTS] [OPTIONS]\n\n"
           "skftool looks after soft tokens and talks to any SKF (GM/T 0016) driver through its\n"
           "standard functions.\n\n"
           "Store commands (the soft token's folder, $SOFTSKF_DIR):\n";
    printCommandLines(out, false);
    out << "\nToken commands (through the SKF driver; DEV is a device name such as VK-VK2026000001):\n";
    printCommandLines(out, true);
    if (everyCommand) {
        printEveryCommand(out);
    }
    out << "\nGlobal options:\n"
           "  --lib PATH        the SKF driver to load (default $SKFTOOL_LIB, else\n"
           "                    "
        << fixedDriverPath
        << ")\n"
           "  --help            this text; 'skftool COMMAND --help' explains one command\n"
           "  --help-all        this text and every command's help, as the manual page has it\n"
           "  --version         the version\n\n"
           "Environment:\n"
           "  SOFTSKF_DIR       the soft token's store (default ${XDG_DATA_HOME:-~/.local/share}/softskf)\n"
           "  SKFTOOL_LIB       the SKF driver to load\n"
           "  SKFTOOL_PIN       the user PIN, when --pin is not given\n"
           "  SKFTOOL_SO_PIN    the SO PIN, when --so-pin is not given\n"
           "  SKFTOOL_NEW_PIN   the new PIN, when --new-pin is not given\n"
           "Without an option or a variable, PINs are asked for on the terminal without echo.\n\n"
           "Exit status: 0 success, 1 the operation failed, 2 the command line is wrong.\n";
}

void printCommandHelp(std::ostream& out, const Command& command)
{
    out << "Usage: skftool [--lib PATH] " << command.name;
    if (!command.arguments.empty()) {
        out << " " << command.arguments;
    }
    if (!command.options.empty()) {
        out << " [OPTIONS]";
    }
    out << "\n\n" << sentence(command.summary) << "\n" << command.details << "\n";
    if (command.options.empty()) {
        return;
    }
    out << "\nOptions:\n";
    printOptions(out, command.options);
}

bool wantsHelp(const std::vector<std::string>& words)
{
    const auto end = std::find(words.begin(), words.end(), "--");
    return std::find(words.begin(), end, "--help") != end || std::find(words.begin(), end, "-h") != end;
}

// A soft token's answer hides what its store knows: a full device, a read-only file, a
// damaged database. Said in the store's words when the device is one of its tokens.
std::string storeReason(const SarError& error, const std::string& device)
{
    const uint32_t sar = error.sar();
    if (device.empty() || (sar != SAR_FILEERR && sar != SAR_WRITEFILEERR && sar != SAR_FAIL)) {
        return {};
    }
    try {
        const std::string problem = softskf::admin::tokenProblem(device);
        return problem.empty() ? "" : "  the soft token's store: " + problem + "\n";
    } catch (const std::exception&) {
        return {}; // no store of ours here
    }
}

int runCommand(const Command& command, const std::vector<std::string>& words, const std::string& libraryPath,
               std::ostream& out, std::ostream& err)
{
    std::string firstArgument;
    try {
        ParsedArgs args = parseArgs(words, command.options, command.minPositionals, command.maxPositionals);
        firstArgument = args.positionals().empty() ? "" : args.positional(0);
        Context context(std::move(args), libraryPath, out);
        command.handler(context);
        return 0;
    } catch (const UsageError& error) {
        err << "skftool " << command.name << ": " << error.what() << "\n"
            << "Run 'skftool " << command.name << " --help' for its arguments and options.\n";
        return kExitUsage;
    } catch (const SarError& error) {
        err << "skftool " << command.name << ": " << describe(error) << "\n" << storeReason(error, firstArgument);
        return kExitFailure;
    } catch (const std::exception& error) {
        err << "skftool " << command.name << ": " << error.what() << "\n";
        return kExitFailure;
    }
}

} // namespace

int runSkftool(std::vector<std::string> words, std::ostream& out, std::ostream& err)
{
    return runSkftool(std::move(words), out, err, OVRINKEY_DRIVER_PATH);
}

int runSkftool(std::vector<std::string> words, std::ostream& out, std::ostream& err, const std::string& fixedDriverPath)
{
    std::string libraryPath;
    try {
        libraryPath = takeGlobalOption(words, "--lib");
    } catch (const UsageError& error) {
        err << "skftool: " << error.what() << "\n";
        return kExitUsage;
    }
    if (libraryPath.empty()) {
        libraryPath = defaultLibraryPath(fixedDriverPath);
    }
    if (words.empty()) {
        printOverview(err, fixedDriverPath);
        return kExitUsage;
    }
    if (words[0] == "--version") {
        out << "skftool " << OVRINKEY_VERSION << "\n";
        return 0;
    }
    if (words[0] == "--help-all") {
        printOverview(out, fixedDriverPath, true);
        return 0;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        if (words.size() > 1 && findCommand(words[1])) {
            printCommandHelp(out, *findCommand(words[1]));
        } else {
            printOverview(out, fixedDriverPath);
        }
        return 0;
    }
    const Command* command = findCommand(words[0]);
    if (!command) {
        err << "skftool: unknown command \"" << words[0] << "\"; run 'skftool --help' for the list\n";
        return kExitUsage;
    }
    words.erase(words.begin());
    if (wantsHelp(words)) {
        printCommandHelp(out, *command);
        return 0;
    }
    return runCommand(*command, words, libraryPath, out, err);
}

} // namespace skftool
