#include "app/App.h"
#include "common/KVEL_Common.h"

// The file version the main window shows in its title.
KVEL_EMBED_FILE_VERSION("1.2.1.2");

int main(int argc, char** argv) {
    CKVEL_ZorviRQ05_SB03ToolApp application(argc, argv);
    application.InitInstance();
    return 0;
}
