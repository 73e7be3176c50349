// The demo token: a ready token with an application, an SM2 container with both pairs and
// certificates, an RSA-2048 container with a signature certificate and an empty container.
#include "commands.h"
#include "errors.h"
#include "secret.h"
#include "session.h"
#include "testca.h"
#include "tokenops.h"

#include "admin/tokenadmin.h"

#include <ctime>
#include <optional>
#include <ostream>

namespace skftool {

namespace {

const char kDemoSerial[] = "VK2026000001";
const char kDemoDevice[] = "VK-VK2026000001";
const char kDemoApplication[] = "OVRIN_APP";
const char kDefaultPin[] = "12345678";
constexpr ULONG kDefaultRetries = 10;
constexpr int kValidYears = 2;

// The demo token's entry in the store, if it has one.
std::optional<softskf::admin::TokenSummary> findDemoToken()
{
    for (const softskf::admin::TokenSummary& token : softskf::admin::listTokens()) {
        if (token.serial == kDemoSerial) {
            return token;
        }
    }
    return std::nullopt;
}

void fillSm2Container(Application& application, const std::string& notBefore, const std::string& notAfter)
{
    Container container(application, "SM2Container", Container::Mode::Create);
    generateSignaturePair(container, 0);
    importEncryptionPair(container);
    issueIntoContainer(container, true, "Velkora Demo SM2 Signature", notBefore, notAfter);
    issueIntoContainer(container, false, "Velkora Demo SM2 Encryption", notBefore, notAfter);
}

void fillRsaContainer(Application& application, const std::string& notBefore, const std::string& notAfter)
{
    Container container(application, "RSAContainer", Container::Mode::Create);
    generateSignaturePair(container, 2048);
    issueIntoContainer(container, true, "Velkora Demo RSA Signature", notBefore, notAfter);
}

void fillDemoToken(const Driver& driver)
{
    Device device(driver.fn(), kDemoDevice);
    authenticateDevice(device, parseAuthKey(""));
    std::string name = kDemoApplication;
    Secret soPin(kDefaultPin);
    Secret userPin(kDefaultPin);
    HAPPLICATION handle = nullptr;
    check(device.fn().CreateApplication(device.handle(), &name[0], soPin.c_str(), kDefaultRetries, userPin.c_str(),
                                        kDefaultRetries, SECURE_ANYONE_ACCOUNT, &handle),
          "SKF_CreateApplication", "application " + name);
    Application application(device, name, handle);
    verifyPin(application, USER_TYPE, userPin);

    // Both dates from one reading of the clock, so the validity is exactly two years.
    const time_t now = time(nullptr);
    const std::string notBefore = certificateDateYearsAfter(now, 0);
    const std::string notAfter = certificateDateYearsAfter(now, kValidYears);
    fillSm2Container(application, notBefore, notAfter);
    fillRsaContainer(application, notBefore, notAfter);
    Container empty(application, "EmptyContainer", Container::Mode::Create);
}

} // namespace

void runDemo(Context& context)
{
    try {
        if (const auto existing = findDemoToken()) {
            if (!existing->deviceName.empty()) {
                context.out() << "The demo token " << kDemoSerial << " exists and is plugged in as "
                              << existing->deviceName << "\n";
                return;
            }
            softskf::admin::insertToken(kDemoSerial, kDemoDevice);
            context.out() << "The demo token " << kDemoSerial << " exists; inserted it again as " << kDemoDevice
                          << "\n";
            return;
        }
        softskf::admin::TokenOptions options;
        options.serial = kDemoSerial;
        softskf::admin::createToken(options);
        softskf::admin::insertToken(kDemoSerial, kDemoDevice);
    } catch (const std::runtime_error& error) {
        throw ToolError(error.what());
    }
    try {
        fillDemoToken(context.driver());
    } catch (...) {
        // A half-filled demo token would be re-inserted as it is by the next run; start over.
        try {
            softskf::admin::deleteToken(kDemoSerial);
        } catch (const std::exception&) {
        }
        throw;
    }
    context.out() << "Created the demo token " << kDemoSerial << " and inserted it as " << kDemoDevice << "\n"
                  << "  Application " << kDemoApplication << ": SO PIN and user PIN " << kDefaultPin << ", "
                  << kDefaultRetries << " tries each\n"
                  << "  SM2Container: SM2 signature and encryption key pairs with certificates\n"
                  << "  RSAContainer: RSA-2048 signature key pair with a certificate\n"
                  << "  EmptyContainer\n";
}

} // namespace skftool
