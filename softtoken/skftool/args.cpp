// Command-line parsing against each command's declared options.
#include "args.h"

#include "errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace skftool {

std::string ParsedArgs::value(const std::string& option, const std::string& fallback) const
{
    auto found = m_values.find(option);
    return found == m_values.end() ? fallback : found->second;
}

namespace {

const OptionSpec* findOption(const std::vector<OptionSpec>& options, const std::string& name)
{
    auto found
        = std::find_if(options.begin(), options.end(), [&](const OptionSpec& known) { return known.name == name; });
    return found == options.end() ? nullptr : &*found;
}

bool looksLikeOption(const std::string& word)
{
    return word.size() > 1 && word[0] == '-';
}

} // namespace

ParsedArgs parseArgs(const std::vector<std::string>& words, const std::vector<OptionSpec>& options,
                     size_t minPositionals, size_t maxPositionals)
{
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || !looksLikeOption(word)) {
            parsed.addPositional(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const OptionSpec* known = findOption(options, name);
        if (!known) {
            throw UsageError("unknown option " + name);
        }
        if (known->valueName.empty()) {
            if (equals != std::string::npos) {
                throw UsageError("option " + name + " takes no value");
            }
            parsed.setValue(name, "");
        } else if (equals != std::string::npos) {
            parsed.setValue(name, word.substr(equals + 1));
        } else if (i + 1 < words.size()) {
            parsed.setValue(name, words[++i]);
        } else {
            throw UsageError("option " + name + " needs a value (" + known->valueName + ")");
        }
    }
    const size_t count = parsed.positionals().size();
    if (count < minPositionals) {
        throw UsageError("too few arguments");
    }
    if (count > maxPositionals) {
        throw UsageError("too many arguments");
    }
    return parsed;
}

std::string takeGlobalOption(std::vector<std::string>& words, const std::string& option)
{
    std::string value;
    for (size_t i = 0; i < words.size();) {
        if (words[i] == "--") {
            break;
        }
        if (words[i] == option) {
            if (i + 1 >= words.size()) {
                throw UsageError("option " + option + " needs a value");
            }
            value = words[i + 1];
            words.erase(words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i) + 2);
        } else if (words[i].rfind(option + "=", 0) == 0) {
            value = words[i].substr(option.size() + 1);
            words.erase(words.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
    return value;
}

unsigned long parseNumber(const std::string& text, const std::string& what)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError(what + " must be a number, not \"" + text + "\"");
    }
    errno = 0;
    const unsigned long number = std::strtoul(text.c_str(), nullptr, 10);
    if (errno == ERANGE || number > 0xFFFFFFFFul) {
        throw UsageError(what + " is too large: " + text);
    }
    return number;
}

} // namespace skftool
