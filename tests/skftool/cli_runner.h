// Runs the real skftool binary as a child process with a chosen environment and captures
// what it prints, for the command-line tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace skftooltest {

struct RunResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs skftool with args; environment entries are set in the child on top of the
// test's own environment (an empty value removes the variable). Standard input is
// /dev/null, so no PIN prompt can wait.
RunResult runSkftool(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment = {});

// A fresh temporary folder, removed with everything in it when the object goes.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace skftooltest
