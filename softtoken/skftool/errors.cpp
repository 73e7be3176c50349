// The three ways a skftool command fails.
#include "errors.h"

#include "sarcodes.h"

namespace skftool {

std::string describe(const SarError& error)
{
    return std::string(error.function()) + " failed: " + sarLabel(error.sar()) + ": " + sarSentence(error.sar())
        + (error.detail().empty() ? "" : " (" + error.detail() + ")");
}

} // namespace skftool
