// skftool: a command-line client for SKF drivers and the soft token's store.
#include "app.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    return skftool::runSkftool(std::move(words), std::cout, std::cerr);
}
