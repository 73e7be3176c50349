// The probe child process.
#include "ProbeProcess.h"

#include "TokenFixture.h"

#include <atomic>
#include <cstdlib>
#include <csignal>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace softskf::test {

ScopedStore::ScopedStore()
{
    static std::atomic<int> counter{0};
    m_previous = testStore();
    m_path = testStore() + "/sub" + std::to_string(++counter);
    mkdir(m_path.c_str(), 0700);
    setenv("SOFTSKF_DIR", m_path.c_str(), 1);
}

ScopedStore::~ScopedStore()
{
    setenv("SOFTSKF_DIR", m_previous.c_str(), 1);
}

ProbeProcess::ProbeProcess(const std::vector<std::string>& arguments)
{
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error("pipe");
    }
    m_pid = fork();
    if (m_pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv;
        std::string program = SOFTSKF_PROBE_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies(arguments);
        for (auto& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    m_fd = fds[0];
}

ProbeProcess::~ProbeProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

std::string ProbeProcess::readLine(int timeoutMs)
{
    for (;;) {
        const auto newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        pollfd fd{m_fd, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) {
            return "TIMEOUT";
        }
        char chunk[512];
        const ssize_t size = read(m_fd, chunk, sizeof chunk);
        if (size <= 0) {
            return "EOF";
        }
        m_buffer.append(chunk, static_cast<size_t>(size));
    }
}

int ProbeProcess::finish()
{
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace softskf::test
