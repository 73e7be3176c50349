// Command-line parsing: each command declares its positional arguments and options, and
// the parser checks a command line against that declaration.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace skftool {

struct OptionSpec
{
    std::string name; // "--pin"
    std::string valueName; // "PIN"; empty for a flag
    std::string help;
};

class ParsedArgs
{
public:
    bool has(const std::string& option) const { return m_values.count(option) != 0; }
    // The option's value, or fallback when it was not given.
    std::string value(const std::string& option, const std::string& fallback = std::string()) const;
    const std::vector<std::string>& positionals() const { return m_positionals; }
    const std::string& positional(size_t index) const { return m_positionals.at(index); }

    void setValue(const std::string& option, const std::string& value) { m_values[option] = value; }
    void addPositional(const std::string& value) { m_positionals.push_back(value); }

private:
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positionals;
};

// Parses words against the options; "--name value", "--name=value" and flags are
// accepted, "--" ends the options. Throws UsageError for unknown options, missing values
// and a count of positionals outside [minPositionals, maxPositionals].
ParsedArgs parseArgs(const std::vector<std::string>& words, const std::vector<OptionSpec>& options,
                     size_t minPositionals, size_t maxPositionals);

// Removes "--lib PATH" or "--lib=PATH" wherever it stands and returns PATH (or empty).
std::string takeGlobalOption(std::vector<std::string>& words, const std::string& option);

// An unsigned decimal number from an option or argument, with a UsageError naming what.
unsigned long parseNumber(const std::string& text, const std::string& what);

} // namespace skftool
