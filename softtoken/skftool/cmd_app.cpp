// Application and PIN commands: create and delete applications, verify, change and
// unblock PINs.
#include "commands.h"
#include "errors.h"
#include "secret.h"
#include "session.h"
#include "tokenops.h"

#include <ostream>

namespace skftool {

namespace {

const char kDefaultPin[] = "12345678";
constexpr ULONG kDefaultRetries = 10;

ULONG retriesOption(const ParsedArgs& args, const std::string& option)
{
    return args.has(option) ? static_cast<ULONG>(parseNumber(args.value(option), option)) : kDefaultRetries;
}

std::string pinName(ULONG pinType)
{
    return pinType == ADMIN_TYPE ? "SO PIN" : "user PIN";
}

ULONG pinTypeOf(const ParsedArgs& args)
{
    return args.has("--so") ? ADMIN_TYPE : USER_TYPE;
}

// The PIN a pin-verify or pin-change starts from: --pin, then the variable of its type.
Secret currentPin(const ParsedArgs& args, ULONG pinType)
{
    if (pinType == ADMIN_TYPE) {
        return readPin(args, {"--pin", "SKFTOOL_SO_PIN", "SO PIN: ", ""});
    }
    return readPin(args, {"--pin", "SKFTOOL_PIN", "User PIN: ", ""});
}

Secret newPin(const ParsedArgs& args)
{
    return readPin(args, {"--new-pin", "SKFTOOL_NEW_PIN", "New PIN: ", ""});
}

} // namespace

void runAppCreate(Context& context)
{
    const ParsedArgs& args = context.args();
    const std::vector<uint8_t> authKey = parseAuthKey(args.value("--auth-key"));
    // The well-known default PINs only when asked for; chosen or not, the token reports
    // the issued PINs as to be changed until their holders change them.
    const std::string fallback = args.has("--default-pins") ? kDefaultPin : "";
    Secret soPin = readPin(args, {"--so-pin", "SKFTOOL_SO_PIN", "SO PIN: ", fallback, true});
    Secret userPin = readPin(args, {"--user-pin", "SKFTOOL_PIN", "User PIN: ", fallback, true});
    const ULONG soRetries = retriesOption(args, "--so-retries");
    const ULONG userRetries = retriesOption(args, "--user-retries");

    Device device(context.driver().fn(), args.positional(0));
    authenticateDevice(device, authKey);
    std::string name = args.positional(1);
    HAPPLICATION handle = nullptr;
    check(device.fn().CreateApplication(device.handle(), &name[0], soPin.c_str(), soRetries, userPin.c_str(),
                                        userRetries, SECURE_ANYONE_ACCOUNT, &handle),
          "SKF_CreateApplication", "application " + name);
    Application application(device, name, handle);
    context.out() << "Created application " << name << " on " << device.name() << "\n";
}

void runAppDelete(Context& context)
{
    const ParsedArgs& args = context.args();
    const std::vector<uint8_t> authKey = parseAuthKey(args.value("--auth-key"));
    Device device(context.driver().fn(), args.positional(0));
    authenticateDevice(device, authKey);
    std::string name = args.positional(1);
    check(device.fn().DeleteApplication(device.handle(), &name[0]), "SKF_DeleteApplication", "application " + name);
    context.out() << "Deleted application " << name << " from " << device.name() << "\n";
}

void runPinVerify(Context& context)
{
    const ParsedArgs& args = context.args();
    const ULONG pinType = pinTypeOf(args);
    Secret pin = currentPin(args, pinType);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, pinType, pin);
    context.out() << "The " << pinName(pinType) << " is correct\n";
}

void runPinChange(Context& context)
{
    const ParsedArgs& args = context.args();
    const ULONG pinType = pinTypeOf(args);
    Secret oldPin = currentPin(args, pinType);
    Secret replacement = newPin(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    ULONG retries = 0;
    const ULONG result = session.application.fn().ChangePIN(session.application.handle(), pinType, oldPin.c_str(),
                                                            replacement.c_str(), &retries);
    if (result == SAR_PIN_INCORRECT) {
        throw SarError(result, "SKF_ChangePIN", pinName(pinType) + ", " + std::to_string(retries) + " tries left");
    }
    check(result, "SKF_ChangePIN", pinName(pinType));
    context.out() << "The " << pinName(pinType) << " is changed\n";
}

void runPinUnblock(Context& context)
{
    const ParsedArgs& args = context.args();
    Secret soPin = readPin(args, {"--so-pin", "SKFTOOL_SO_PIN", "SO PIN: ", ""});
    Secret replacement = newPin(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    ULONG retries = 0;
    const ULONG result = session.application.fn().UnblockPIN(session.application.handle(), soPin.c_str(),
                                                             replacement.c_str(), &retries);
    if (result == SAR_PIN_INCORRECT) {
        throw SarError(result, "SKF_UnblockPIN", "SO PIN, " + std::to_string(retries) + " tries left");
    }
    check(result, "SKF_UnblockPIN", "SO PIN");
    context.out() << "The user PIN is unblocked and set anew\n";
}

} // namespace skftool
