// torvik-tester: replays bar history through the library's exports as the
// expert advisor does, simulates the broker and reports.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "tester/cli/cli.h"

int main(int argc, char** argv)
{
    return torvik::tester::RunTester(argc, argv, std::cout, std::cerr, isatty(fileno(stderr)) != 0);
}
