#include <cstdio>

#include <QCoreApplication>
#include <QDir>

#include "app/commandline.h"
#include "app/headlessport.h"
#include "platform/curlfetcher.h"
#include "refresh/connectivity.h"
#include "refresh/feedcache.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"
#include "store/opml.h"
#include "store/settingsdefaults.h"
#include "store/viewsetting.h"

#ifdef QUORVEL_WITH_GUI
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>
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

#ifdef QUORVEL_WITH_GUI
// Loads the window module of the page view that --view or the store's view setting asks for
// (beside the program when built, in ../lib/quorvel when installed) and runs the reader from
// it. The light view's module does not link the browser engine at all; when the browser
// engine's module is missing, the light one stands in.
int runReaderModule(int argc, char** argv, const CommandLine& line) {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, std::size_t(length)) : std::string(argv[0]);
    folder = folder.substr(0, folder.find_last_of('/') + 1);
    const PageViewKind view =
        line.view.isEmpty()
            ? readViewSetting(FeedStore(resolveDataFolder(
                  line.dataDir, QString::fromLocal8Bit(folder.data(), qsizetype(folder.size())))))
            : pageViewKindFromText(line.view);
    std::vector<std::string> modules;
    if (view == PageViewKind::Web)
        modules = {"quorvel_gui_web.so"};
    modules.push_back("quorvel_gui.so");
    std::string tried;
    for (const std::string& name : modules) {
        for (const std::string& candidate : {folder + name, folder + "../lib/quorvel/" + name}) {
            if (void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
                using Entry = int (*)(int, char**, const char*);
                if (auto entry = reinterpret_cast<Entry>(dlsym(module, "quorvelRunReader"))) {
                    if (!tried.empty())
                        std::fprintf(stderr, "quorvel: the browser view did not load, showing "
                                             "the light view:%s\n", tried.c_str());
                    return entry(argc, argv, line.dataDir.toLocal8Bit().constData());
                }
            }
            const char* error = dlerror();
            tried += "\n  " + (error ? std::string(error) : candidate);
        }
    }
    std::fprintf(stderr,
                 "quorvel: the reader window cannot start, its module did not load:%s\n"
                 "quorvel: 'quorvel --refresh' still refreshes the feeds without windows\n",
                 tried.c_str());
    return 70;
}
#endif

// One refresh cycle without windows. 0 when the cycle reached its end.
int runHeadlessRefresh(const CommandLine& line) {
    const QString folder = resolveDataFolder(line.dataDir, QCoreApplication::applicationDirPath());
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

// The feed list the OPML commands work on; a first start creates it as the reader would,
// under the store lock, so two commands started at once never write over each other.
bool openStore(const CommandLine& line, FeedStore* store) {
    *store = FeedStore(resolveDataFolder(line.dataDir, QCoreApplication::applicationDirPath()));
    if (store->exists())
        return true;
    QString error;
    if (createDefaultStore(*store, &error))
        return true;
    std::fprintf(stderr, "quorvel: %s\n", error.toLocal8Bit().constData());
    return false;
}

int runOpmlImport(const CommandLine& line) {
    FeedStore store{QString()};
    if (!openStore(line, &store))
        return 1;
    const OpmlImportResult result = importOpml(store, line.importOpml);
    if (!result.ok) {
        std::fprintf(stderr, "quorvel: %s\n%s\n",
                     opmlImportFailureText(result).toLocal8Bit().constData(),
                     result.error.toLocal8Bit().constData());
        return 1;
    }
    const QString summary = opmlImportSummary(result, QDir::toNativeSeparators(store.storePath()));
    std::fprintf(stderr, "%s\n", summary.toLocal8Bit().constData());
    return 0;
}

int runOpmlExport(const CommandLine& line) {
    FeedStore store{QString()};
    if (!openStore(line, &store))
        return 1;
    CurlFetcher fetcher;
    auto progress = [](int done, int total) {
        std::fprintf(stderr, "Looking up feed titles: %d of %d\n", done, total);
    };
    const auto kept = FeedCache::ofDataFolder(store.folder()).keptAnswers();
    QString error;
    if (line.exportOpml == QLatin1String("-")) {
        QString text;
        if (buildOpmlExport(store, fetcher, &text, &error, progress, kept)) {
            const QByteArray bytes = text.toUtf8();
            std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
            std::fputs("\r\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    } else if (exportOpml(store, fetcher, line.exportOpml, &error, progress, kept)) {
        std::fprintf(stderr, "Exported the enabled feeds to %s\n",
                     line.exportOpml.toLocal8Bit().constData());
        return 0;
    }
    std::fprintf(stderr, "quorvel: the export failed: %s\n", error.toLocal8Bit().constData());
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
        return runReaderModule(argc, argv, line);
    }
#endif
    QCoreApplication app(argc, argv);
    setIdentity();
    if (!line.importOpml.isEmpty())
        return runOpmlImport(line);
    if (!line.exportOpml.isEmpty())
        return runOpmlExport(line);
    if (!line.refresh && !hasDisplay())
        std::fprintf(stderr, "quorvel: no display; running one refresh without windows\n");
    return runHeadlessRefresh(line);
}
