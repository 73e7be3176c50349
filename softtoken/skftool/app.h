// skftool's top level: global options, the command dispatch, help and error reporting.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace skftool {

// Runs one command line (without the program name). Returns the exit code: 0 success,
// 1 a failed operation, 2 a malformed command line. fixedDriverPath is the driver loaded
// when neither --lib nor $SKFTOOL_LIB names one, and the one the help names.
int runSkftool(std::vector<std::string> words, std::ostream& out, std::ostream& err,
               const std::string& fixedDriverPath);

// The same with the manager's fixed driver path of this build.
int runSkftool(std::vector<std::string> words, std::ostream& out, std::ostream& err);

} // namespace skftool
