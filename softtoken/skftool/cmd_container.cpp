// Container and key pair commands: create and delete containers, generate the signature
// pair, import an encryption pair.
#include "commands.h"
#include "errors.h"
#include "secret.h"
#include "session.h"
#include "tokenops.h"

#include <ostream>

namespace skftool {

void runContainerCreate(Context& context)
{
    const ParsedArgs& args = context.args();
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2), Container::Mode::Create);
    context.out() << "Created container " << container.name() << "\n";
}

void runContainerDelete(Context& context)
{
    const ParsedArgs& args = context.args();
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    std::string name = args.positional(2);
    check(session.application.fn().DeleteContainer(session.application.handle(), &name[0]), "SKF_DeleteContainer",
          "container " + name);
    context.out() << "Deleted container " << name << "\n";
}

void runKeygen(Context& context)
{
    const ParsedArgs& args = context.args();
    if (args.has("--sm2") == args.has("--rsa")) {
        throw UsageError("choose one of --sm2 and --rsa BITS");
    }
    const unsigned rsaBits = args.has("--rsa") ? static_cast<unsigned>(parseNumber(args.value("--rsa"), "--rsa")) : 0;
    if (args.has("--rsa") && rsaBits != 1024 && rsaBits != 2048) {
        throw UsageError("--rsa takes 1024 or 2048");
    }
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    generateSignaturePair(container, rsaBits);
    context.out() << "Generated an " << (rsaBits ? "RSA " + std::to_string(rsaBits) : std::string("SM2 256"))
                  << "-bit signature key pair in " << container.name() << "\n";
}

void runImportEncKey(Context& context)
{
    const ParsedArgs& args = context.args();
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    const std::string what = importEncryptionPair(container);
    context.out() << "Imported an " << what << " into " << container.name() << "\n";
}

} // namespace skftool
