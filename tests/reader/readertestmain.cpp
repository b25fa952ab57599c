// The browser engine and the widgets need one QApplication for the whole run.
#include <gtest/gtest.h>

#include <QApplication>

#include "reader/webenginesetup.h"

int main(int argc, char** argv) {
    quorvel::prepareWebEngine();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
