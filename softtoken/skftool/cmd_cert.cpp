// Certificate commands: import (DER or PEM), export (DER or PEM), issue from the test CA.
#include "commands.h"
#include "errors.h"
#include "pemder.h"
#include "secret.h"
#include "session.h"
#include "testca.h"
#include "tokenops.h"

#include <iostream>

#include <unistd.h>

namespace skftool {

namespace {

// --sign or --enc, exactly one of them.
bool signFlagOf(const ParsedArgs& args)
{
    if (args.has("--sign") == args.has("--enc")) {
        throw UsageError("choose one of --sign and --enc");
    }
    return args.has("--sign");
}

const char* pairName(bool signPair)
{
    return signPair ? "signature" : "encryption";
}

} // namespace

void runCertImport(Context& context)
{
    const ParsedArgs& args = context.args();
    const bool signCertificate = signFlagOf(args);
    std::vector<uint8_t> der = certificateDer(readFileBytes(args.positional(3)));
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    importCertificate(container, signCertificate, der);
    context.out() << "Imported the " << pairName(signCertificate) << " certificate (" << der.size() << " bytes) into "
                  << container.name() << "\n";
}

void runCertExport(Context& context)
{
    const ParsedArgs& args = context.args();
    const bool signCertificate = signFlagOf(args);
    const std::string output = args.value("-o", args.value("--output"));
    const bool toStandardOutput = output.empty() || output == "-";
    // Binary DER on a terminal is noise at best; ask for a file or PEM instead.
    if (toStandardOutput && !args.has("--pem") && &context.out() == &std::cout && isatty(STDOUT_FILENO)) {
        throw UsageError("DER is binary: write it with -o FILE, or print PEM with --pem");
    }
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    Container container(session.application, args.positional(2));
    std::vector<uint8_t> der = exportCertificate(container, signCertificate);
    if (der.empty()) {
        throw SarError(SAR_CERTNOTFOUNTERR, "SKF_ExportCertificate",
                       "container " + container.name() + " has no " + pairName(signCertificate) + " certificate");
    }
    std::vector<uint8_t> bytes = der;
    if (args.has("--pem")) {
        const std::string pem = derToPem(der);
        bytes.assign(pem.begin(), pem.end());
    }
    if (toStandardOutput) {
        context.out().write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        context.out().flush();
        return;
    }
    writeFileBytes(output, bytes);
    context.out() << "Wrote the " << pairName(signCertificate) << " certificate of " << container.name() << " to "
                  << output << "\n";
}

void runIssue(Context& context)
{
    const ParsedArgs& args = context.args();
    const bool signPair = signFlagOf(args);
    if (!args.has("--cn") || !args.has("--not-after")) {
        throw UsageError("issue needs --cn NAME and --not-after DATE");
    }
    const std::string notAfter = parseCertificateDate(args.value("--not-after"), "--not-after", DayPart::EndOfDay);
    const std::string notBefore = args.has("--not-before")
        ? parseCertificateDate(args.value("--not-before"), "--not-before", DayPart::StartOfDay)
        : certificateDateFromNow(0);
    Secret pin = userPinFor(args);
    AppSession session(context.driver(), args.positional(0), args.positional(1));
    verifyPin(session.application, USER_TYPE, pin);
    Container container(session.application, args.positional(2));
    const std::vector<uint8_t> der = issueIntoContainer(container, signPair, args.value("--cn"), notBefore, notAfter);
    const CertificateSummary summary = describeCertificate(der);
    context.out() << "Issued the " << pairName(signPair) << " certificate " << summary.subject << " of "
                  << container.name() << ", valid " << summary.notBefore << " to " << summary.notAfter << "\n";
}

} // namespace skftool
