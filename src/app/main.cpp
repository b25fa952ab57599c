#include <cstdio>

#include <QCoreApplication>
#include <QDir>

#include "app/commandline.h"
#include "app/headlessport.h"
#include "platform/curlfetcher.h"
#include "refresh/connectivity.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"

#ifdef QUORVEL_WITH_GUI
#include "app/guiapp.h"
#endif

namespace {

using namespace quorvel;

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

void setIdentity() {
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
    QCoreApplication::setOrganizationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION_TEXT));
}

// One refresh cycle without windows. 0 when the cycle reached its end.
int runHeadlessRefresh(const CommandLine& line) {
    const QString folder =
        resolveDataFolder(line.dataDir, QCoreApplication::applicationDirPath());
    FeedStore store(folder);
    CurlFetcher fetcher;
    HeadlessPort port(stderr);
    RefreshCycle cycle(store, fetcher, port, probeUrl());
    const CycleEnd end = cycle.refreshFeeds();
    const QString page = QDir::toNativeSeparators(store.pagePath());
    switch (end) {
    case CycleEnd::PageWritten:
    case CycleEnd::NoFeeds:
    case CycleEnd::Offline:
        std::printf("%s\n", page.toLocal8Bit().constData());
        return 0;
    case CycleEnd::StoreUnreadable:
        std::fprintf(stderr, "quorvel: the feed list %s could not be read; nothing refreshed\n",
                     QDir::toNativeSeparators(store.storePath()).toLocal8Bit().constData());
        return 2;
    case CycleEnd::PageNotWritten:
        std::fprintf(stderr, "quorvel: the page %s could not be written\n",
                     page.toLocal8Bit().constData());
        return 3;
    case CycleEnd::Cancelled:
        return 4;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "quorvel: %s\n%s", line.error.toLocal8Bit().constData(),
                     usageText().toLocal8Bit().constData());
        return 64;
    }
    if (line.help) {
        std::printf("%s", usageText().toLocal8Bit().constData());
        return 0;
    }
    if (line.version) {
        std::printf("Quorvel RSS Reader %s\n", QUORVEL_VERSION_TEXT);
        return 0;
    }
#ifdef QUORVEL_WITH_GUI
    if (!line.refresh && line.importOpml.isEmpty() && line.exportOpml.isEmpty() && hasDisplay()) {
        setIdentity();
        return runReaderApplication(argc, argv, line.dataDir);
    }
#endif
    QCoreApplication app(argc, argv);
    setIdentity();
    if (!line.refresh && !hasDisplay())
        std::fprintf(stderr, "quorvel: no display; running one refresh without windows\n");
    return runHeadlessRefresh(line);
}
