#include "app/guiapp.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QDir>
#include <QSystemTrayIcon>

#include "app/managerlink.h"
#include "platform/curlfetcher.h"
#include "reader/instanceguard.h"
#include "reader/messageboxprompter.h"
#include "reader/readerwindow.h"
#ifdef QUORVEL_WITH_WEBENGINE
#include "reader/webenginesetup.h"
#endif
#include "refresh/connectivity.h"
#include "store/feedstore.h"

namespace quorvel {

int runReaderApplication(int argc, char** argv, const QString& dataDirOption) {
    // Each window module has one page view: the browser engine's, or the light one.
#ifdef QUORVEL_WITH_WEBENGINE
    prepareWebEngine();
    const PageViewKind view = PageViewKind::Web;
#else
    const PageViewKind view = PageViewKind::Light;
#endif
    QApplication app(argc, argv);
    app.setDesktopFileName(QStringLiteral("quorvel"));
    // Closing the reader hides it in the tray; only "Exit" ends the program.
    app.setQuitOnLastWindowClosed(false);

    // Before anything touches a file, a tray icon or a timer: a second start hands over.
    QString socketError;
    InstanceGuard guard(InstanceGuard::defaultServerName(&socketError));
    if (guard.activatePrevInstance())
        return 0;
    if (!guard.listen())
        std::fprintf(
            stderr, "quorvel: cannot watch for a second start (%s); continuing\n",
            (socketError.isEmpty() ? guard.errorString() : socketError).toLocal8Bit().constData());

    const QString folder = resolveDataFolder(dataDirOption, QCoreApplication::applicationDirPath());
    FeedStore store(folder);
    CurlFetcher fetcher;
    MessageBoxPrompter prompter;

    ReaderOptions options;
    options.view = view;
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    options.probeAddress = probeUrl();
    options.readmePaths = {
        QDir(folder).filePath(QStringLiteral("readme.txt")),
        QDir(QCoreApplication::applicationDirPath())
            .filePath(QStringLiteral("../share/doc/quorvel/readme.txt")),
    };
    ReaderWindow reader(store, fetcher, prompter, options);

    QObject::connect(&guard, &InstanceGuard::activationRequested, &reader,
                     &ReaderWindow::restoreFromTray);
    QObject::connect(&reader, &ReaderWindow::exited, &app, &QCoreApplication::quit);

    ManagerLink managerLink(reader, store, prompter);

    reader.start();
    const int status = app.exec();
    if (reader.isRefreshing()) {
        // Exit gave the cancelled cycle its grace period and the worker is still busy. Every
        // file is written atomically, so ending the process now loses nothing, while waiting
        // for the worker could take for ever.
        std::fputs("quorvel: the refresh did not stop in time; exiting without it\n", stderr);
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

} // namespace quorvel
