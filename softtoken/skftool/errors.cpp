// The three ways a skftool command fails.
#include "errors.h"

#include "sarcodes.h"

namespace skftool {

SkfError::SkfError(uint32_t code, const std::string& function, const std::string& context)
    : std::runtime_error(function + " failed: " + sarLabel(code) + ": " + sarSentence(code)
                         + (context.empty() ? "" : " (" + context + ")"))
    , m_code(code)
    , m_function(function)
    , m_context(context)
{
}

} // namespace skftool
