// skftool: a command-line client for SKF drivers and the soft token's store.
#include "app.h"

#include "ovrinkey_paths.h"

#include <iostream>

// The twin that the manual page is made from names the driver path of an installed skftool
// instead of this build's, so the page never carries the folder it was built in.
#ifndef SKFTOOL_FIXED_DRIVER_PATH
#define SKFTOOL_FIXED_DRIVER_PATH OVRINKEY_DRIVER_PATH
#endif

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    return skftool::runSkftool(std::move(words), std::cout, std::cerr, SKFTOOL_FIXED_DRIVER_PATH);
}
