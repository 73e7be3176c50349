// Device commands: the driver's device list, everything on one token, the label.
#include "blobs.h"
#include "commands.h"
#include "errors.h"
#include "pemder.h"
#include "session.h"
#include "tokenadmin.h"

#include <cstdio>
#include <cstring>
#include <ostream>

namespace skftool {

namespace {

// Fixed-size driver fields need not end in NUL; never read past the field.
template <size_t N> std::string fieldText(const CHAR (&field)[N])
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, N));
}

std::string hex32(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string versionText(const VERSION& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

std::string stateName(ULONG state)
{
    switch (state) {
    case DEV_PRESENT_STATE:
        return "present";
    case DEV_ABSENT_STATE:
        return "absent";
    default:
        return "unknown";
    }
}

void printDeviceInfo(std::ostream& out, const DEVINFO& info)
{
    out << "  Label:            " << fieldText(info.Label) << "\n"
        << "  Serial number:    " << fieldText(info.SerialNumber) << "\n"
        << "  Manufacturer:     " << fieldText(info.Manufacturer) << "\n"
        << "  Issuer:           " << fieldText(info.Issuer) << "\n"
        << "  Versions:         structure " << versionText(info.Version) << ", hardware " << versionText(info.HWVersion)
        << ", firmware " << versionText(info.FirmwareVersion) << "\n"
        << "  Algorithms:       symmetric " << hex32(info.AlgSymCap) << ", asymmetric " << hex32(info.AlgAsymCap)
        << ", hash " << hex32(info.AlgHashCap) << "\n"
        << "  Device auth:      " << (info.DevAuthAlgId == SGD_SM4_ECB ? "SGD_SM4_ECB " : "")
        << hex32(info.DevAuthAlgId) << "\n"
        << "  Space:            " << info.TotalSpace << " bytes total, " << info.FreeSpace << " bytes free\n"
        << "  Buffers:          " << info.MaxECCBufferSize << " bytes ECC, " << info.MaxBufferSize << " bytes\n";
}

// A stored object the token refuses as damaged (SAR_FILEERR) is marked, and the rest of
// the token still shown.
template <typename Print>
void markDamaged(std::ostream& out, const std::string& indent, const std::string& what, Print print)
{
    try {
        print();
    } catch (const SarError& error) {
        if (error.sar() != SAR_FILEERR) {
            throw;
        }
        out << indent << what << ": DAMAGED (the token refuses it as damaged)\n";
    }
}

void printPinInfo(std::ostream& out, const Application& application, ULONG pinType)
{
    ULONG maxRetries = 0;
    ULONG remaining = 0;
    BOOL isDefault = FALSE;
    check(application.fn().GetPINInfo(application.handle(), pinType, &maxRetries, &remaining, &isDefault),
          "SKF_GetPINInfo", application.name());
    // A driver's "default" flag marks a PIN still as whoever made the application set it,
    // chosen or the well-known one: its holder is to change it.
    out << "    " << (pinType == ADMIN_TYPE ? "SO PIN:   " : "User PIN: ") << remaining << " of " << maxRetries
        << " tries left" << (remaining == 0 ? ", locked" : "") << (isDefault ? ", as issued, to be changed" : "")
        << "\n";
}

std::string keyPairText(const std::vector<uint8_t>& blob)
{
    if (blob.empty()) {
        return "none";
    }
    if (blob.size() == sizeof(ECCPUBLICKEYBLOB)) {
        return "SM2 " + std::to_string(blobBitLength(blob)) + " bits";
    }
    return "RSA " + std::to_string(blobBitLength(blob)) + " bits";
}

void printCertificate(std::ostream& out, const std::vector<uint8_t>& der)
{
    if (der.empty()) {
        out << "        Certificate: none\n";
        return;
    }
    try {
        const CertificateSummary summary = describeCertificate(der);
        out << "        Certificate: " << summary.subject << ", " << der.size() << " bytes\n"
            << "          Issuer:    " << summary.issuer << "\n"
            << "          Valid:     " << summary.notBefore << " to " << summary.notAfter << "\n"
            << "          Signature: " << summary.signatureAlgorithm << "\n";
    } catch (const ToolError&) {
        out << "        Certificate: " << der.size() << " bytes that are not a readable X.509 certificate\n";
    }
}

void printContainer(std::ostream& out, Application& application, const std::string& name)
{
    Container container(application, name);
    out << "    Container " << name << " (" << containerTypeName(container.type()) << ")\n";
    for (bool signPair : {true, false}) {
        const std::string pair = std::string(signPair ? "Signature" : "Encryption") + " key pair";
        markDamaged(out, "      ", pair, [&] {
            const std::string text = keyPairText(exportPublicKey(container, signPair));
            out << "      " << pair << ": " << text << "\n";
        });
        markDamaged(out, "        ", "Certificate",
                    [&] { printCertificate(out, exportCertificate(container, signPair)); });
    }
}

void printApplication(std::ostream& out, Device& device, const std::string& name)
{
    Application application(device, name);
    out << "  Application " << name << "\n";
    markDamaged(out, "    ", "SO PIN", [&] { printPinInfo(out, application, ADMIN_TYPE); });
    markDamaged(out, "    ", "User PIN", [&] { printPinInfo(out, application, USER_TYPE); });
    const std::vector<std::string> containers = enumContainers(application);
    if (containers.empty()) {
        out << "    No containers\n";
    }
    for (const std::string& container : containers) {
        printContainer(out, application, container);
    }
}

// The soft token answers SAR_FILEERR when its store folder is unsafe (open to others,
// another user's, a link); the store commands know which folder and why, so say it here too.
[[noreturn]] void rethrowWithStoreReason(const SarError& error)
{
    if (error.sar() == SAR_FILEERR) {
        try {
            softskf::admin::listTokens();
        } catch (const std::exception& reason) {
            throw ToolError(describe(error) + "\n  the soft token's store: " + reason.what());
        }
    }
    throw error;
}

// Why a listed soft token cannot be used, from its store; empty for any other device.
std::string deviceProblem(const std::string& name)
{
    try {
        const std::string problem = softskf::admin::tokenProblem(name);
        return problem.empty() ? "" : "\tcannot be used: " + problem;
    } catch (const std::exception&) {
        return {};
    }
}

std::vector<std::string> enumAllDevices(const Driver& driver)
{
    try {
        return enumDevices(driver, false);
    } catch (const SarError& error) {
        rethrowWithStoreReason(error);
    }
}

} // namespace

void runDevices(Context& context)
{
    const Driver& driver = context.driver();
    const std::vector<std::string> all = enumAllDevices(driver);
    if (all.empty()) {
        context.out() << "No devices\n";
        return;
    }
    for (const std::string& name : all) {
        std::string writable = name;
        ULONG state = DEV_UNKNOW_STATE;
        check(driver.fn().GetDevState(&writable[0], &state), "SKF_GetDevState", "device " + name);
        context.out() << name << "\t" << stateName(state) << deviceProblem(name) << "\n";
    }
}

void runShow(Context& context)
{
    Device device(context.driver().fn(), context.args().positional(0));
    DEVINFO info{};
    check(device.fn().GetDevInfo(device.handle(), &info), "SKF_GetDevInfo", "device " + device.name());
    std::ostream& out = context.out();
    out << "Device " << device.name() << "\n";
    printDeviceInfo(out, info);
    const std::vector<std::string> applications = enumApplications(device);
    if (applications.empty()) {
        out << "  No applications\n";
    }
    for (const std::string& application : applications) {
        printApplication(out, device, application);
    }
}

void runLabel(Context& context)
{
    // The driver judges the label (1 to 31 bytes on the soft token) and says why it refuses.
    const std::string& label = context.args().positional(1);
    Device device(context.driver().fn(), context.args().positional(0));
    std::string writable = label;
    check(device.fn().SetLabel(device.handle(), &writable[0]), "SKF_SetLabel", "device " + device.name());
    context.out() << "Label of " << device.name() << " set to \"" << label << "\"\n";
}

} // namespace skftool
