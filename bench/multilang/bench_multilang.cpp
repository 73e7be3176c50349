// How fast a 1 MiB language-like file loads: the manager's INI model from a file and from
// memory, a full language load, and inih parsing the same file into a map for comparison.
#include "inifile.h"
#include "multilang.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#ifdef HAVE_INIH
#include <ini.h>
#endif

namespace {

constexpr size_t FileSize = 1024 * 1024;

// A language file of about 1 MiB: settings, then numbered texts mixing ASCII, Chinese,
// escapes and printf conversions, each line well under inih's line limit.
std::string makeLanguageText()
{
    const char* const samples[] = {
        "DIV-Uvavoz 口令验证失败，剩余重试次数：%d",
        "Your certificate will expire in %d days. \\nPlease contact your administrator.",
        "管理员PIN剩余重试次数",
        "Encrypt&Decrypt(RSA2048)",
        "C:\\\\new\\\\table\\tcolumn",
        "您的憑證將在 %d 天後到期。\\n請聯絡管理員更新憑證。",
    };
    std::string text = "; generated\n[settings]\nCodePage=2052\nLanguage=简体中文\nFontFace=Noto Sans CJK SC\n"
                       "FontHeight=9\n\n[strings]\n";
    for (unsigned long number = 100000; text.size() < FileSize; ++number)
        text += std::to_string(number) + "=" + samples[number % 6] + "\n";
    return text;
}

const std::string& languageText()
{
    static const std::string text = makeLanguageText();
    return text;
}

const std::string& languageFile()
{
    static const std::string path = [] {
        std::string file = (std::filesystem::temp_directory_path() / "bench_multilang_1mib.lng").string();
        std::ofstream(file, std::ios::binary) << languageText();
        return file;
    }();
    return path;
}

void countBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * languageText().size());
}

void IniFileLoadFromFile(benchmark::State& state)
{
    for (auto _ : state) {
        ovrin::IniFile ini;
        if (!ini.Load(languageFile()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(ini.sections.size());
    }
    countBytes(state);
}
BENCHMARK(IniFileLoadFromFile)->Unit(benchmark::kMillisecond);

void IniFileLoadFromMemory(benchmark::State& state)
{
    for (auto _ : state) {
        ovrin::IniFile ini;
        if (!ini.Load(languageText().c_str()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(ini.sections.size());
    }
    countBytes(state);
}
BENCHMARK(IniFileLoadFromMemory)->Unit(benchmark::kMillisecond);

void LanguageLoad(benchmark::State& state)
{
    for (auto _ : state) {
        ovrin::MultiLanguage language;
        if (!language.Load(languageFile()))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(language.GetString(100001UL, ""));
    }
    countBytes(state);
}
BENCHMARK(LanguageLoad)->Unit(benchmark::kMillisecond);

#ifdef HAVE_INIH
// inih only calls back; storing each pair in a map makes the work comparable.
int storePair(void* user, const char* section, const char* name, const char* value)
{
    auto& model = *static_cast<std::map<std::string, std::map<std::string, std::string>>*>(user);
    model[section].emplace(name, value);
    return 1;
}

void InihParseFile(benchmark::State& state)
{
    for (auto _ : state) {
        std::map<std::string, std::map<std::string, std::string>> model;
        if (ini_parse(languageFile().c_str(), storePair, &model) != 0)
            state.SkipWithError("inih failed");
        benchmark::DoNotOptimize(model.size());
    }
    countBytes(state);
}
BENCHMARK(InihParseFile)->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
