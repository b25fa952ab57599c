// The browser engine and the widgets need one QApplication for the whole run.
#include <gtest/gtest.h>

#include <QApplication>

#ifdef QUORVEL_WITH_WEBENGINE
#include "reader/webenginesetup.h"
#endif

int main(int argc, char** argv) {
#ifdef QUORVEL_WITH_WEBENGINE
    quorvel::prepareWebEngine();
#endif
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
