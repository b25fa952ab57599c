// The entry point of the window module. The program loads this module only when it shows
// windows, so that a run without windows does not map the browser engine at all.

#include "app/guiapp.h"

extern "C" __attribute__((visibility("default"))) int quorvelRunReader(int argc, char** argv,
                                                                       const char* dataDir) {
    return quorvel::runReaderApplication(argc, argv, QString::fromLocal8Bit(dataDir));
}
