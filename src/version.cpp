// The version text and vendor line, made from the compiler's build date and time.
#include "version.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t ScratchSize = 64;

// 1 to 12 for "Jan" ... "Dec", 13 for anything else.
int monthNumber(const char* name)
{
    static const char* const names[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (std::strcmp(name, names[i]) == 0) {
            return i + 1;
        }
    }
    return 13;
}

// Copies text with its terminator, cut to fit size bytes.
void copyBounded(char* out, std::size_t size, const char* text)
{
    if (out == nullptr || size == 0) {
        return;
    }
    std::snprintf(out, size, "%s", text);
}

} // namespace

int formatMgrVersion(const char* buildDate, const char* buildTime, char* version, std::size_t versionSize,
                     char* vendorLine, std::size_t vendorLineSize)
{
    char monthName[16] = {};
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::sscanf(buildDate, "%15s %d %d", monthName, &day, &year);
    std::sscanf(buildTime, "%d:%d:%d", &hour, &minute, &second);

    char versionText[ScratchSize] = {};
    char vendorText[ScratchSize] = {};
    std::snprintf(versionText, sizeof versionText, "%s%02d.%02d%02d%02d%02d", "1.0.", year % 100,
                  monthNumber(monthName), day, hour, minute);
    std::snprintf(vendorText, sizeof vendorText, "Copyright \xC2\xA9 20%02d Velkora. All rights reserved.", year % 100);

    copyBounded(version, versionSize, versionText);
    copyBounded(vendorLine, vendorLineSize, vendorText);
    return 0;
}

int getMgrVersion(char* version, char* vendorLine, std::size_t versionSize, std::size_t vendorLineSize)
{
    return formatMgrVersion(__DATE__, __TIME__, version, versionSize, vendorLine, vendorLineSize);
}
