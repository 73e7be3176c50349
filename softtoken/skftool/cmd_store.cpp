// Store commands: create, list, delete, plug in and pull out soft tokens. They work on the
// soft token's folder through softskf_admin and need no driver.
#include "commands.h"
#include "errors.h"
#include "session.h"

#include "admin/tokenadmin.h"

#include <iomanip>
#include <ostream>

namespace skftool {

namespace {

// The admin library throws std::runtime_error with a plain sentence; keep the sentence.
template <typename Work> auto inStore(Work work) -> decltype(work())
{
    try {
        return work();
    } catch (const std::runtime_error& error) {
        throw ToolError(error.what());
    }
}

std::string defaultDeviceName(const std::string& serial)
{
    return softskf::admin::defaultDeviceName(serial);
}

} // namespace

void runCreate(Context& context)
{
    const ParsedArgs& args = context.args();
    if (!args.has("--serial")) {
        throw UsageError("create needs --serial");
    }
    softskf::admin::TokenOptions options;
    options.serial = args.value("--serial");
    if (args.has("--label")) {
        options.label = args.value("--label");
    }
    if (args.has("--capacity")) {
        options.capacityBytes = static_cast<uint32_t>(parseNumber(args.value("--capacity"), "--capacity"));
    }
    options.devAuthKey = parseAuthKey(args.value("--auth-key"));
    inStore([&] { softskf::admin::createToken(options); });
    context.out() << "Created token " << options.serial << " in " << inStore([] { return softskf::admin::storeDir(); })
                  << "\n";
}

void runTokens(Context& context)
{
    const std::vector<softskf::admin::TokenSummary> tokens = inStore([] { return softskf::admin::listTokens(); });
    if (tokens.empty()) {
        context.out() << "No tokens in " << inStore([] { return softskf::admin::storeDir(); }) << "\n";
        return;
    }
    std::ostream& out = context.out();
    out << std::left << std::setw(20) << "SERIAL" << std::setw(24) << "LABEL" << std::setw(24) << "DEVICE" << std::right
        << std::setw(10) << "CAPACITY" << std::setw(10) << "FREE"
        << "\n";
    for (const softskf::admin::TokenSummary& token : tokens) {
        if (!token.problem.empty()) {
            out << std::left << std::setw(20) << token.serial << (token.broken ? "BROKEN: " : "UNUSABLE NOW: ")
                << token.problem << "\n";
            continue;
        }
        out << std::left << std::setw(20) << token.serial << std::setw(24) << token.label << std::setw(24)
            << (token.deviceName.empty() ? "-" : token.deviceName) << std::right << std::setw(10) << token.capacityBytes
            << std::setw(10) << token.freeBytes << "\n";
    }
}

void runDelete(Context& context)
{
    const std::string& serial = context.args().positional(0);
    inStore([&] { softskf::admin::deleteToken(serial); });
    context.out() << "Deleted token " << serial << "\n";
}

void runInsert(Context& context)
{
    const std::string& serial = context.args().positional(0);
    const std::string name = context.args().value("--name", defaultDeviceName(serial));
    inStore([&] { softskf::admin::insertToken(serial, name); });
    context.out() << "Inserted token " << serial << " as " << name << "\n";
}

void runRemove(Context& context)
{
    const std::string& which = context.args().positional(0);
    inStore([&] { softskf::admin::removeToken(which); });
    context.out() << "Removed " << which << "\n";
}

} // namespace skftool
