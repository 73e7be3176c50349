// Where the module finds its SKF drivers: the same places as every client of any driver.
#include "Driver.h"

#include "skf/driverpaths.h"

namespace skfp11 {

std::vector<std::string> Driver::configuredPaths()
{
    return skfloader::configuredDriverPaths();
}

} // namespace skfp11
