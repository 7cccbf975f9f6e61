// tolva: the command-line front end of Tolva Music Transfer.
#include <clocale>

#include <QStringList>

#include "cli/CliApp.h"

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CConsoleIo io;
    return RunTolva(arguments, io);
}
