// The table of skftool's commands with their help texts, and the command context.
#include "commands.h"

#include "secret.h"

#include <ostream>

namespace skftool {

Context::Context(ParsedArgs args, std::string libraryPath, std::ostream& out)
    : m_args(std::move(args))
    , m_libraryPath(std::move(libraryPath))
    , m_out(out)
{
}

Context::~Context() = default;

const Driver& Context::driver()
{
    if (!m_driver) {
        m_driver = std::make_unique<Driver>(m_libraryPath);
    }
    return *m_driver;
}

Secret userPinFor(const ParsedArgs& args)
{
    return readPin(args, {"--pin", "SKFTOOL_PIN", "User PIN: ", ""});
}

namespace {

const OptionSpec kPin{"--pin", "PIN", "the user PIN (else $SKFTOOL_PIN, else a prompt)"};
// A PIN on the command line is visible to every user in ps; these keep it off.
const OptionSpec kPinFile{"--pin-file", "FILE", "read the PINs from FILE, one a line, in the order asked for"};
const OptionSpec kPinFd{"--pin-fd", "N", "read the PINs from file descriptor N, one a line"};
const OptionSpec kSign{"--sign", "", "the signature key pair or certificate"};
const OptionSpec kEnc{"--enc", "", "the encryption key pair or certificate"};
const OptionSpec kAuthKey{"--auth-key", "HEX",
                          "device authentication key, 32 hex digits (default the ASCII bytes 1234567812345678)"};

// Every command that takes a PIN also reads PINs from a file or a descriptor.
std::vector<Command> withPinSources(std::vector<Command> table)
{
    for (Command& command : table) {
        bool takesPin = false;
        for (const OptionSpec& option : command.options) {
            takesPin = takesPin || option.valueName == "PIN";
        }
        if (takesPin) {
            command.options.push_back(kPinFile);
            command.options.push_back(kPinFd);
        }
    }
    return table;
}

std::vector<Command> buildTable()
{
    return {
        {"create",
         "",
         0,
         0,
         "create a soft token in the store (not plugged in)",
         "Creates tokens/<serial>.db in the store ($SOFTSKF_DIR, else ~/.local/share/softskf).\n"
         "The new token has no application; plug it in with 'skftool insert'.",
         {{"--serial", "S", "the token's serial number, 1 to 63 printable characters (required)"},
          {"--label", "L", "the token's label (default \"Velkora Z Idi\")"},
          {"--capacity", "BYTES", "the token's total space (default 262144)"},
          kAuthKey},
         runCreate,
         false},
        {"tokens",
         "",
         0,
         0,
         "list the soft tokens in the store",
         "Prints each token's serial, label, device name when plugged in, capacity and free space.",
         {},
         runTokens,
         false},
        {"delete",
         "SERIAL",
         1,
         1,
         "delete a soft token from the store",
         "Deletes the token's database and unplugs it first when it is plugged in.",
         {},
         runDelete,
         false},
        {"insert",
         "SERIAL",
         1,
         1,
         "plug a soft token in",
         "Writes present/<name>, which drivers see as an insertion.",
         {{"--name", "DEVNAME", "the device name (default VK-<serial>)"}},
         runInsert,
         false},
        {"remove",
         "NAME|SERIAL",
         1,
         1,
         "pull a soft token out",
         "Deletes the token's presence file; drivers report a removal.",
         {},
         runRemove,
         false},
        {"devices",
         "",
         0,
         0,
         "list the driver's devices and their states",
         "Asks the driver for every device it knows (SKF_EnumDev) and for each one's state\n"
         "(SKF_GetDevState): present, absent or unknown.",
         {},
         runDevices,
         true},
        {"show",
         "DEV",
         1,
         1,
         "show everything on a token",
         "Prints the device information, each application with its PIN counters, each container\n"
         "with its type, key pairs and certificates (subject and expiry). Needs no PIN.",
         {},
         runShow,
         true},
        {"label", "DEV TEXT", 2, 2, "set a token's label", "The label is 1 to 31 bytes.", {}, runLabel, true},
        {"app-create",
         "DEV APP",
         2,
         2,
         "create an application",
         "Authenticates to the device, then creates the application with the given PINs: from\n"
         "the options, --pin-file or --pin-fd (SO PIN, then user PIN), the environment, or\n"
         "prompts on a terminal. --default-pins uses 12345678 for both. Either way the token\n"
         "reports the PINs as issued, to be changed, until their holders change them. 10 tries\n"
         "each; anyone may create files.",
         {{"--so-pin", "PIN", "the SO (administrator) PIN (else $SKFTOOL_SO_PIN, else a prompt)"},
          {"--user-pin", "PIN", "the user PIN (else $SKFTOOL_PIN, else a prompt)"},
          {"--default-pins", "", "use the default PINs 12345678 for any PIN not given otherwise"},
          {"--so-retries", "N", "tries before the SO PIN locks (default 10)"},
          {"--user-retries", "N", "tries before the user PIN locks (default 10)"},
          kAuthKey},
         runAppCreate,
         true},
        {"app-delete",
         "DEV APP",
         2,
         2,
         "delete an application and everything in it",
         "Authenticates to the device, then deletes the application.",
         {kAuthKey},
         runAppDelete,
         true},
        {"pin-verify",
         "DEV APP",
         2,
         2,
         "check a PIN",
         "A wrong PIN costs a try; the message says how many are left.",
         {{"--so", "", "check the SO PIN (from --pin, else $SKFTOOL_SO_PIN) instead of the user PIN"}, kPin},
         runPinVerify,
         true},
        {"pin-change",
         "DEV APP",
         2,
         2,
         "change a PIN",
         "The new PIN is 6 to 16 characters; a changed PIN is no longer the default PIN.",
         {{"--so", "", "change the SO PIN (old one from --pin, else $SKFTOOL_SO_PIN)"},
          kPin,
          {"--new-pin", "PIN", "the new PIN (else $SKFTOOL_NEW_PIN, else a prompt)"}},
         runPinChange,
         true},
        {"pin-unblock",
         "DEV APP",
         2,
         2,
         "unblock the user PIN with the SO PIN",
         "Sets a new user PIN and restores its tries.",
         {{"--so-pin", "PIN", "the SO PIN (else $SKFTOOL_SO_PIN, else a prompt)"},
          {"--new-pin", "PIN", "the new user PIN (else $SKFTOOL_NEW_PIN, else a prompt)"}},
         runPinUnblock,
         true},
        {"container-create",
         "DEV APP NAME",
         3,
         3,
         "create an empty container",
         "Needs the user PIN.",
         {kPin},
         runContainerCreate,
         true},
        {"container-delete",
         "DEV APP NAME",
         3,
         3,
         "delete a container with its keys and certificates",
         "Needs the user PIN.",
         {kPin},
         runContainerDelete,
         true},
        {"keygen",
         "DEV APP CONT",
         3,
         3,
         "generate the container's signature key pair",
         "The token makes the pair; the private key never leaves it. Needs the user PIN.",
         {{"--sm2", "", "an SM2 pair"}, {"--rsa", "BITS", "an RSA pair of 1024 or 2048 bits"}, kPin},
         runKeygen,
         true},
        {"import-enc-key",
         "DEV APP CONT",
         3,
         3,
         "import an encryption key pair",
         "Makes an encryption pair of the container's kind (SM2, or RSA of the signature pair's\n"
         "size) and imports it in the standard's envelope, which the container's signature\n"
         "public key protects. Needs a signature pair and the user PIN.",
         {kPin},
         runImportEncKey,
         true},
        {"cert-import",
         "DEV APP CONT FILE --sign|--enc",
         4,
         4,
         "import a certificate (DER or PEM)",
         "Stores the certificate's DER bytes in the container. Needs the user PIN.",
         {kSign, kEnc, kPin},
         runCertImport,
         true},
        {"cert-export",
         "DEV APP CONT --sign|--enc",
         3,
         3,
         "export a certificate (DER, or PEM with --pem)",
         "Writes the certificate exactly as the token holds it, to FILE or standard output.",
         {kSign,
          kEnc,
          {"--pem", "", "write PEM instead of DER"},
          {"-o", "FILE", "the output file"},
          {"--output", "FILE", "the same as -o"}},
         runCertExport,
         true},
        {"issue",
         "DEV APP CONT --sign|--enc",
         3,
         3,
         "issue a certificate from the local test CA",
         "Certifies one of the container's key pairs with the test CA in the store's ca/ folder\n"
         "(made on first use) and imports the certificate. SM2 keys get SM2-with-SM3 certificates,\n"
         "RSA keys sha256WithRSAEncryption ones. Dates are UTC. Needs the user PIN.",
         {kSign,
          kEnc,
          {"--cn", "NAME", "the subject's common name (required)"},
          {"--not-after", "YYYY-MM-DD[THH:MM:SS]",
           "the last moment of validity (required; a day alone ends at 23:59:59)"},
          {"--not-before", "YYYY-MM-DD[THH:MM:SS]",
           "the first moment of validity (default now; a day alone starts at 00:00:00)"},
          kPin},
         runIssue,
         true},
        {"sign",
         "DEV APP CONT",
         3,
         3,
         "sign a file with the container's signature key",
         "SM2 containers sign SM3 over Z and the data (DER r, s); RSA containers sign SHA-256\n"
         "with PKCS#1 v1.5. The signature is printed in hex or written raw with -o. Needs the\n"
         "user PIN.",
         {{"--in", "FILE", "the data to sign (required)"},
          {"-o", "FILE", "write the signature to FILE"},
          {"--id", "ID", "the SM2 signer identity (default 1234567812345678)"},
          kPin},
         runSign,
         true},
        {"verify",
         "DEV APP CONT",
         3,
         3,
         "verify a signature with the container's signature public key",
         "Checks a signature made by 'skftool sign' (or OpenSSL) on the token.",
         {{"--in", "FILE", "the signed data (required)"},
          {"--sig", "FILE", "the signature (required)"},
          {"--id", "ID", "the SM2 signer identity (default 1234567812345678)"}},
         runVerify,
         true},
        {"encrypt",
         "DEV APP CONT",
         3,
         3,
         "encrypt a file to the container's encryption key",
         "The token makes an SM4 session key wrapped to the container's encryption public key\n"
         "and encrypts the data with SM4-CBC; only the token holding that key decrypts it.",
         {{"--in", "FILE", "the data (required)"}, {"-o", "FILE", "the encrypted file (required)"}},
         runEncrypt,
         true},
        {"decrypt",
         "DEV APP CONT",
         3,
         3,
         "decrypt a file made by 'skftool encrypt'",
         "Unwraps the session key with the container's encryption key. Needs the user PIN.",
         {{"--in", "FILE", "the encrypted file (required)"}, {"-o", "FILE", "the plain data (required)"}, kPin},
         runDecrypt,
         true},
        {"digest",
         "DEV",
         1,
         1,
         "hash a file on the token",
         "Prints the digest in hex.",
         {{"--in", "FILE", "the data (required)"}, {"--alg", "ALG", "sm3 (default), sha1 or sha256"}},
         runDigest,
         true},
        {"random",
         "DEV",
         1,
         1,
         "random bytes from the token",
         "Prints them in hex, or writes them raw with -o.",
         {{"--bytes", "N", "how many, 1 to 4096 (default 16)"}, {"-o", "FILE", "write them to FILE"}},
         runRandom,
         true},
        {"csr",
         "DEV APP CONT",
         3,
         3,
         "make a PKCS#10 certificate request signed on the token",
         "The request carries the container's signature public key and the token signs it\n"
         "(SM2-with-SM3 or sha256WithRSAEncryption), as a certificate authority expects. PEM\n"
         "on standard output, or to -o FILE. Needs the user PIN.",
         {{"--cn", "NAME", "the subject's common name (required)"}, {"-o", "FILE", "write the request to FILE"}, kPin},
         runCsr,
         true},
        {"demo",
         "",
         0,
         0,
         "create, fill and plug in the demo token",
         "Makes token VK2026000001, plugged in as VK-VK2026000001, with application OVRIN_APP\n"
         "(default PINs), container SM2Container (SM2 signature and encryption pairs with\n"
         "certificates valid two years), RSAContainer (RSA-2048 signature pair and certificate)\n"
         "and EmptyContainer. When the token exists already it is only plugged in again.",
         {},
         runDemo,
         true},
    };
}

} // namespace

const std::vector<Command>& commandTable()
{
    static const std::vector<Command> table = withPinSources(buildTable());
    return table;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& command : commandTable()) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace skftool
