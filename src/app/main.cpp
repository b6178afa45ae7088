#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "Application.h"
#include "Program.h"
#include "TesselbyVersion.h"

namespace {

const char kHelp[] = "Usage: Tesselby [--help | --version]\n"
                     "A small address list for the desktop: a first name, a last name, a phone number and an\n"
                     "e-mail address for each person, in $XDG_DATA_HOME/tesselby/tesselby.txt\n"
                     "(~/.local/share/tesselby/tesselby.txt on most systems). It opens its main window and\n"
                     "takes no other arguments; Qt's own options, such as -style NAME, are understood.\n"
                     "\n"
                     "  --help     print this help and exit\n"
                     "  --version  print the version and exit\n"
                     "\n"
                     "See Tesselby(1), and tesselby-contacts(1) for importing, exporting and listing people.\n";

} // namespace

int main(int argc, char* argv[])
{
    // Answered before Qt starts, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argument == "--version") {
            std::fputs("Tesselby " TESSELBY_VERSION_FULL "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
#ifdef SIGXFSZ
    // Writing past a file-size limit must fail with a message, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication application(argc, argv); // takes Qt's own options out of argv
    if (argc > 1) {
        std::fprintf(stderr, "Tesselby: unknown argument '%s'; Tesselby takes none but --help and --version.\n",
                     argv[1]);
        return 2;
    }
    tesselby::configureApplication(application);
    tesselby::Program program;
    program.start();
    return application.exec();
}
