// A second process for the conformance suite: loads the driver with a fresh library
// state and runs one scenario, printing one line per result so the test can follow.
#include "SkfDriver.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

using namespace softskf::test;

namespace {

const char* const kUserPin = "87654321";

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int events(const SkfDriver& skf, int count)
{
    for (int i = 0; i < count; ++i) {
        char name[256] = {};
        ULONG length = sizeof name;
        ULONG event = 0;
        const ULONG rc = skf.SKF_WaitForDevEvent(name, &length, &event);
        say(std::to_string(rc) + " " + std::to_string(event) + " " + name + " " + std::to_string(length));
    }
    return 0;
}

int smallBuffer(const SkfDriver& skf)
{
    char name[256] = {};
    ULONG length = 2;
    ULONG event = 0;
    ULONG rc = skf.SKF_WaitForDevEvent(name, &length, &event);
    say(std::to_string(rc) + " " + std::to_string(length));
    length = sizeof name;
    rc = skf.SKF_WaitForDevEvent(name, &length, &event);
    say(std::to_string(rc) + " " + std::to_string(event) + " " + name + " " + std::to_string(length));
    return 0;
}

// True once the thread is asleep in poll(), where the driver's wait blocks: the kernel shows
// the thread's state as S and its current system call as poll or ppoll.
bool blockedInPoll(long thread)
{
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    std::ifstream stat(task + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto end = line.rfind(')');
    if (end == std::string::npos || line.compare(end, 4, ") S ") != 0) {
        return false;
    }
    long call = -1;
    std::ifstream(task + "/syscall") >> call;
#ifdef SYS_poll
    if (call == SYS_poll) {
        return true;
    }
#endif
    return call == SYS_ppoll;
}

int cancel(const SkfDriver& skf)
{
    ULONG rc = 0;
    std::atomic<long> thread{0};
    std::chrono::steady_clock::time_point returned;
    std::thread waiter([&] {
        thread = ::syscall(SYS_gettid);
        char name[256];
        ULONG length = sizeof name;
        ULONG event = 0;
        rc = skf.SKF_WaitForDevEvent(name, &length, &event);
        returned = std::chrono::steady_clock::now();
    });
    // The cancel must find the wait blocked; a cancel before it would end it at once too,
    // and prove nothing about waking it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (thread.load() == 0 || !blockedInPoll(thread.load())) {
        if (std::chrono::steady_clock::now() > deadline) {
            say("the wait never blocked in poll");
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto cancelled = std::chrono::steady_clock::now();
    skf.SKF_CancelWaitForDevEvent();
    waiter.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(returned - cancelled).count();
    say(std::to_string(rc) + " " + std::to_string(ms));
    return 0;
}

// Calls on one thread while another waits for events: nothing blocks or fails.
int busy(const SkfDriver& skf, const std::string& device)
{
    std::atomic<int> reported{0};
    std::atomic<ULONG> lastRc{0};
    std::thread waiter([&] {
        for (;;) {
            char name[256];
            ULONG length = sizeof name;
            ULONG event = 0;
            lastRc = skf.SKF_WaitForDevEvent(name, &length, &event);
            if (lastRc != SAR_OK) {
                return;
            }
            ++reported;
        }
    });
    int failures = 0;
    for (int i = 0; i < 100; ++i) {
        DEVHANDLE handle = nullptr;
        DEVINFO info{};
        if (skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle) != SAR_OK
            || skf.SKF_GetDevInfo(handle, &info) != SAR_OK || skf.SKF_DisConnectDev(handle) != SAR_OK) {
            ++failures;
        }
    }
    // The token present at start is reported first; cancel only after that, or the cancel
    // would end the very first wait.
    for (int waited = 0; reported.load() == 0 && waited < 10000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    skf.SKF_CancelWaitForDevEvent();
    waiter.join();
    say(std::to_string(failures) + " " + std::to_string(reported.load()) + " " + std::to_string(lastRc.load()));
    return 0;
}

bool step(const char* what, ULONG rc)
{
    if (rc != SAR_OK) {
        say(std::string("FAIL ") + what + " " + std::to_string(rc));
        return false;
    }
    return true;
}

// Creates containers, certificates and files in application APP, racing another process.
int churn(const SkfDriver& skf, const std::string& device, const std::string& prefix, int count)
{
    DEVHANDLE handle = nullptr;
    HAPPLICATION app = nullptr;
    ULONG retries = 0;
    if (!step("connect", skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle))
        || !step("open", skf.SKF_OpenApplication(handle, const_cast<char*>("APP"), &app))
        || !step("verify", skf.SKF_VerifyPIN(app, USER_TYPE, const_cast<char*>(kUserPin), &retries))) {
        return 1;
    }
    std::vector<uint8_t> certificate(300);
    for (size_t i = 0; i < certificate.size(); ++i) {
        certificate[i] = static_cast<uint8_t>(i * 31 + prefix[0]);
    }
    for (int i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        HCONTAINER container = nullptr;
        uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(i)};
        if (!step("container", skf.SKF_CreateContainer(app, const_cast<char*>(name.c_str()), &container))
            || !step("certificate", skf.SKF_ImportCertificate(container, TRUE, certificate.data(), 300))
            || !step("file", skf.SKF_CreateFile(app, const_cast<char*>(name.c_str()), 8, 0xFF, 0xFF))
            || !step("write", skf.SKF_WriteFile(app, const_cast<char*>(name.c_str()), 0, data, 8))) {
            return 1;
        }
        skf.SKF_CloseContainer(container);
    }
    say("OK");
    return 0;
}

int verify(const SkfDriver& skf, const std::string& device, const std::string& pin, ULONG pinType)
{
    DEVHANDLE handle = nullptr;
    HAPPLICATION app = nullptr;
    ULONG retries = 0;
    if (!step("connect", skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle))
        || !step("open", skf.SKF_OpenApplication(handle, const_cast<char*>("APP"), &app))) {
        return 1;
    }
    const ULONG rc = skf.SKF_VerifyPIN(app, pinType, const_cast<char*>(pin.c_str()), &retries);
    say(std::to_string(rc) + " " + std::to_string(retries));
    return 0;
}

// Changes a PIN of application APP.
int change(const SkfDriver& skf, const std::string& device, const std::string& oldPin, const std::string& newPin,
           ULONG pinType)
{
    DEVHANDLE handle = nullptr;
    HAPPLICATION app = nullptr;
    ULONG retries = 0;
    if (!step("connect", skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle))
        || !step("open", skf.SKF_OpenApplication(handle, const_cast<char*>("APP"), &app))) {
        return 1;
    }
    const ULONG rc = skf.SKF_ChangePIN(app, pinType, const_cast<char*>(oldPin.c_str()),
                                       const_cast<char*>(newPin.c_str()), &retries);
    say(std::to_string(rc));
    return 0;
}

// Verifies PIN (or, with a second PIN, changes it back and forth) rounds times; prints
// the calls that failed, the first failing code, and the calls whose PIN ended short of
// its full tries (a correct PIN gives every try back).
int pinLoop(const SkfDriver& skf, const std::string& device, int rounds, const std::string& pin,
            const std::string& otherPin, ULONG pinType)
{
    DEVHANDLE handle = nullptr;
    HAPPLICATION app = nullptr;
    if (!step("connect", skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle))
        || !step("open", skf.SKF_OpenApplication(handle, const_cast<char*>("APP"), &app))) {
        return 1;
    }
    int failed = 0;
    int short_ = 0;
    ULONG first = 0;
    for (int round = 0; round < rounds; ++round) {
        ULONG retries = 0;
        const std::string& from = round % 2 ? otherPin : pin;
        const std::string& to = round % 2 ? pin : otherPin;
        const ULONG rc = otherPin.empty()
            ? skf.SKF_VerifyPIN(app, pinType, const_cast<char*>(pin.c_str()), &retries)
            : skf.SKF_ChangePIN(app, pinType, const_cast<char*>(from.c_str()), const_cast<char*>(to.c_str()), &retries);
        ULONG max = 0;
        ULONG remaining = 0;
        BOOL isDefault = FALSE;
        if (rc != SAR_OK) {
            first = failed++ ? first : rc;
        } else if (skf.SKF_GetPINInfo(app, pinType, &max, &remaining, &isDefault) == SAR_OK && remaining != max) {
            ++short_; // another process's wrong try could do this, but none runs here
        }
    }
    say(std::to_string(failed) + " " + std::to_string(first) + " " + std::to_string(short_));
    return 0;
}

int enumDev(const SkfDriver& skf)
{
    ULONG size = 99;
    const ULONG rc = skf.SKF_EnumDev(TRUE, nullptr, &size);
    say(std::to_string(rc) + " " + std::to_string(size));
    return 0;
}

int pinInfo(const SkfDriver& skf, const std::string& device, ULONG type)
{
    DEVHANDLE handle = nullptr;
    HAPPLICATION app = nullptr;
    ULONG max = 0;
    ULONG remaining = 0;
    BOOL isDefault = 0;
    if (!step("connect", skf.SKF_ConnectDev(const_cast<char*>(device.c_str()), &handle))
        || !step("open", skf.SKF_OpenApplication(handle, const_cast<char*>("APP"), &app))
        || !step("info", skf.SKF_GetPINInfo(app, type, &max, &remaining, &isDefault))) {
        return 1;
    }
    say(std::to_string(max) + " " + std::to_string(remaining) + " " + std::to_string(isDefault));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: softskf_probe events N | enumdev | verify DEVICE PIN [so] | small | cancel | busy DEVICE |"
                     " churn DEVICE PREFIX N | pininfo DEVICE TYPE | change DEVICE OLD NEW [so] |"
                     " pinloop DEVICE ROUNDS PIN OTHER|'' user|so\n");
        return 2;
    }
    const SkfDriver& skf = driver();
    const std::string command = argv[1];
    if (command == "events" && argc == 3) {
        return events(skf, std::atoi(argv[2]));
    }
    // An optional last argument names the PIN: "so", else the user's.
    const auto pinType
        = [&](int index) { return argc > index && std::strcmp(argv[index], "so") == 0 ? ADMIN_TYPE : USER_TYPE; };
    if (command == "verify" && (argc == 4 || argc == 5)) {
        return verify(skf, argv[2], argv[3], pinType(4));
    }
    if (command == "change" && (argc == 5 || argc == 6)) {
        return change(skf, argv[2], argv[3], argv[4], pinType(5));
    }
    if (command == "pinloop" && argc == 7) {
        return pinLoop(skf, argv[2], std::atoi(argv[3]), argv[4], argv[5], pinType(6));
    }
    if (command == "enumdev") {
        return enumDev(skf);
    }
    if (command == "small") {
        return smallBuffer(skf);
    }
    if (command == "cancel") {
        return cancel(skf);
    }
    if (command == "busy" && argc == 3) {
        return busy(skf, argv[2]);
    }
    if (command == "churn" && argc == 5) {
        return churn(skf, argv[2], argv[3], std::atoi(argv[4]));
    }
    if (command == "pininfo" && argc == 4) {
        return pinInfo(skf, argv[2], static_cast<ULONG>(std::atoi(argv[3])));
    }
    std::fprintf(stderr, "softskf_probe: unknown command\n");
    return 2;
}
