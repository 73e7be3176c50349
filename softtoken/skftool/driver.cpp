// The SKF driver that skftool talks to, loaded by path.
#include "driver.h"

namespace skftool {

Driver::Driver(const std::string& path)
try : m_driver(path) {
} catch (const skfloader::MissingFunction& missing) {
    throw missingFunction(missing);
} catch (const std::runtime_error& failure) {
    throw ToolError(failure.what());
}

ToolError Driver::missingFunction(const skfloader::MissingFunction& missing)
{
    return ToolError("the driver does not export " + missing.name());
}

} // namespace skftool
