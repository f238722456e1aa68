#include <QStringList>

#include "app/App.h"
#include "app/StartOptions.h"
#include "common/KVEL_Common.h"
#include "common/ProgramInfo.h"

// The file version the main window shows in its title.
KVEL_EMBED_FILE_VERSION(KVEL_PROGRAM_VERSION);

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const StartCommandLine commandLine = ReadStartCommandLine(arguments);
    if (!commandLine.run) return commandLine.exitCode;
    CKVEL_ZorviRQ05_SB03ToolApp application(argc, argv, commandLine.options);
    application.InitInstance();
    return 0;
}
