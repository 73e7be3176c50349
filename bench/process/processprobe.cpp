// Helpers of the whole-process benchmark.
#include "processprobe.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

Scratch::Scratch()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/ovrinkey-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = buffer.data();
    ::mkdir((m_path + "/store").c_str(), 0700);
    ::mkdir((m_path + "/tmp").c_str(), 0700);
    if (::mkfifo(fifo().c_str(), 0600) != 0) {
        throw std::runtime_error("mkfifo failed");
    }
}

Scratch::~Scratch()
{
    const std::string command = "rm -rf '" + m_path + "'";
    [[maybe_unused]] int ignored = std::system(command.c_str());
}

void Scratch::skftool(const std::string& arguments) const
{
    const std::string command
        = "SOFTSKF_DIR='" + store() + "' '" SKFTOOL_EXE "' --lib '" SOFTSKF_LIB "' " + arguments + " >/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("skftool failed: " + arguments);
    }
}

Child::Child(const Scratch& scratch, const std::string& program, const std::vector<std::string>& wrapper)
{
    std::vector<std::string> command = wrapper;
    command.push_back(program);
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    m_readFd = ::open(scratch.fifo().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // A writer of our own keeps the FIFO from reporting a hang-up between children.
    m_keepFd = ::open(scratch.fifo().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_readFd < 0 || m_keepFd < 0) {
        throw std::runtime_error("cannot open the probe FIFO");
    }
    const std::string store = scratch.store();
    const std::string tmp = scratch.path() + "/tmp";
    const std::string fifo = scratch.fifo();
    m_startedNs = monotonicNs();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("SOFTSKF_DIR", store.c_str(), 1);
        // The single-instance marker lives under TMPDIR: a private one keeps the benchmark
        // apart from any manager running on the machine.
        ::setenv("TMPDIR", tmp.c_str(), 1);
        ::setenv("OVRINKEY_BENCH_PROBE", fifo.c_str(), 1);
        ::setenv("LANG", "C.UTF-8", 1);
        ::unsetenv("LANGUAGE");
        ::unsetenv("LC_ALL");
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
}

Child::~Child()
{
    stop();
    if (m_readFd >= 0) {
        ::close(m_readFd);
    }
    if (m_keepFd >= 0) {
        ::close(m_keepFd);
    }
}

bool Child::next(ProbeLine& line, int timeoutMs)
{
    const long long deadline = monotonicNs() + static_cast<long long>(timeoutMs) * 1000000LL;
    for (;;) {
        const std::size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::istringstream fields(m_pending.substr(0, end));
            m_pending.erase(0, end + 1);
            fields >> line.tag >> line.monotonicNs >> line.cpuNs >> line.value;
            return true;
        }
        const long long left = deadline - monotonicNs();
        if (left <= 0) {
            return false;
        }
        pollfd wait{m_readFd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left / 1000000LL) + 1) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(m_readFd, buffer, sizeof buffer);
        if (got > 0) {
            m_pending.append(buffer, static_cast<std::size_t>(got));
        }
    }
}

ProbeLine Child::waitFor(const std::string& tag, long value, int timeoutMs)
{
    const long long deadline = monotonicNs() + static_cast<long long>(timeoutMs) * 1000000LL;
    ProbeLine line;
    for (;;) {
        const long long left = (deadline - monotonicNs()) / 1000000LL;
        if (left <= 0 || !next(line, static_cast<int>(left))) {
            throw std::runtime_error("no probe line '" + tag + " " + std::to_string(value) + "' in time");
        }
        if (line.tag == tag && (value < 0 || line.value == value)) {
            return line;
        }
    }
}

void Child::drain(int quietMs)
{
    ProbeLine line;
    while (next(line, quietMs)) { }
}

void Child::stop()
{
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    for (int waited = 0; waited < 200; ++waited) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

namespace {

std::vector<std::string> threadFolders(pid_t pid)
{
    std::vector<std::string> folders;
    const std::string base = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) {
        return folders;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            folders.push_back(base + "/" + entry->d_name);
        }
    }
    ::closedir(dir);
    return folders;
}

} // namespace

std::map<std::string, long long> threadCpuNs(pid_t pid)
{
    std::map<std::string, long long> threads;
    for (const std::string& folder : threadFolders(pid)) {
        std::ifstream schedstat(folder + "/schedstat");
        long long onCpu = 0;
        if (schedstat >> onCpu) {
            threads[folder.substr(folder.rfind('/') + 1)] = onCpu;
        }
    }
    return threads;
}

long long cpuNsBetween(const std::map<std::string, long long>& before, const std::map<std::string, long long>& after)
{
    long long total = 0;
    for (const auto& [thread, onCpu] : after) {
        const auto earlier = before.find(thread);
        total += onCpu - (earlier != before.end() ? earlier->second : 0);
    }
    return total;
}

std::vector<ThreadSwitches> threadSwitches(pid_t pid)
{
    std::vector<ThreadSwitches> threads;
    for (const std::string& folder : threadFolders(pid)) {
        ThreadSwitches thread;
        thread.id = folder.substr(folder.rfind('/') + 1);
        std::ifstream comm(folder + "/comm");
        std::getline(comm, thread.name);
        std::ifstream status(folder + "/status");
        std::string key;
        while (status >> key) {
            if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
                long long count = 0;
                status >> count;
                thread.switches += count;
            }
            status.ignore(1 << 16, '\n');
        }
        threads.push_back(thread);
    }
    return threads;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5));
    return values[at];
}

} // namespace bench
