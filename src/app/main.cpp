#include <QApplication>
#include <csignal>

#include "Application.h"
#include "Program.h"

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // Writing past a file-size limit must fail with a message, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    tesselby::Program program;
    program.start();
    return application.exec();
}
