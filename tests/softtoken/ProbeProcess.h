// Runs softskf_probe as a child process with its own store folder and reads its lines.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace softskf::test {

// Points SOFTSKF_DIR at a fresh sub-folder of the test store for the store commands and
// children started meanwhile; restores the old value when it goes.
class ScopedStore
{
public:
    ScopedStore();
    ~ScopedStore();
    const std::string& path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
};

class ProbeProcess
{
public:
    explicit ProbeProcess(const std::vector<std::string>& arguments);
    ~ProbeProcess();
    ProbeProcess(const ProbeProcess&) = delete;
    ProbeProcess& operator=(const ProbeProcess&) = delete;

    // The next line, or "TIMEOUT" / "EOF".
    std::string readLine(int timeoutMs = 10000);
    // Exit status; waits for the child.
    int finish();

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_buffer;
};

} // namespace softskf::test
