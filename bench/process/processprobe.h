// Helpers of the whole-process benchmark: a scratch folder with its own soft-token store,
// a child started with the probe's FIFO, and readings from /proc.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// One probe line: "<tag> <monotonic ns> <process CPU ns> <value>".
struct ProbeLine
{
    std::string tag;
    long long monotonicNs = 0;
    long long cpuNs = 0;
    long value = 0;
};

long long monotonicNs();

// A fresh folder (removed on destruction) with store/, tmp/ and the probe FIFO.
class Scratch
{
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& path() const { return m_path; }
    std::string store() const { return m_path + "/store"; }
    std::string fifo() const { return m_path + "/probe"; }

    // Runs skftool against this store; throws when it fails.
    void skftool(const std::string& arguments) const;

private:
    std::string m_path;
};

// A program started offscreen with the scratch store and the probe; killed on destruction.
class Child
{
public:
    // A wrapper (e.g. valgrind and its options) runs the program when given.
    Child(const Scratch& scratch, const std::string& program, const std::vector<std::string>& wrapper = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    // The monotonic time just before the child was started.
    long long startedNs() const { return m_startedNs; }
    // The next probe line, or false after timeoutMs without one.
    bool next(ProbeLine& line, int timeoutMs);
    // The next line with this tag (and, when value >= 0, this value); throws on timeout.
    ProbeLine waitFor(const std::string& tag, long value, int timeoutMs);
    // Reads lines until none came for quietMs.
    void drain(int quietMs);
    // SIGTERM, then waits; SIGKILL after two seconds.
    void stop();

private:
    pid_t m_pid = -1;
    int m_readFd = -1;
    int m_keepFd = -1;
    long long m_startedNs = 0;
    std::string m_pending;
};

// Resident size in KiB (VmRSS).
long residentKiB(pid_t pid);

// Time on the processor of each thread (by thread id), from its schedstat, in nanoseconds.
std::map<std::string, long long> threadCpuNs(pid_t pid);

// Processor time spent between two readings by the threads alive at the second; a thread
// that started in between counts from zero, one that ended is not seen.
long long cpuNsBetween(const std::map<std::string, long long>& before, const std::map<std::string, long long>& after);

// Context switches (voluntary and not) of every thread, by thread name.
struct ThreadSwitches
{
    std::string id;
    std::string name;
    long long switches = 0;
};
std::vector<ThreadSwitches> threadSwitches(pid_t pid);

// Median and percentile of a sample (sorted copy).
double percentile(std::vector<double> values, double fraction);

} // namespace bench
