// The main of every doctest executable: it runs the tests, or, started by a ChildProcess, one body.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include "ChildProcess.h"

int main(int argc, char** argv)
{
    if (int exitCode = 0; runChildBodyIfAsked(argc, argv, exitCode))
        return exitCode;
    doctest::Context context(argc, argv);
    return context.run();
}
