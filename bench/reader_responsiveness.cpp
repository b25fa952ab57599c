// The reader window's UI event loop while a refresh cycle runs: a loopback server holds F
// feeds of M items, each answer delayed by L ms; a 5 ms timer on the UI thread records the
// longest gap between its ticks during each cycle (the longest stall a user could feel),
// and the cycle's wall time. R cycles; prints each and the worst.
//
// usage: reader_responsiveness [feeds=50] [items=30] [delayMs=500] [runs=5]
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "benchsupport.h"
#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "reader/readerwindow.h"
#ifdef QUORVEL_WITH_WEBENGINE
#include "reader/webenginesetup.h"
#endif
#include "store/feedstore.h"
#include "store/prompter.h"
#include "testfiles.h"

using namespace quorvel;
using quorvel::test::LoopbackServer;

namespace {

struct OkPrompter : Prompter {
    MessageAnswer prompt(const Message&) override { return MessageAnswer::Ok; }
};

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return done();
}

} // namespace

int main(int argc, char** argv) {
    const int feeds = argc > 1 ? std::atoi(argv[1]) : 50;
    const int items = argc > 2 ? std::atoi(argv[2]) : 30;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 500;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;

    // No GPU on the machines these run on.
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-logging");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef QUORVEL_WITH_WEBENGINE
    quorvel::prepareWebEngine();
#endif
    QApplication app(argc, argv);

    QTemporaryDir dir;
    LoopbackServer server;
    server.setRoute("/probe", quorvel::test::served("ok"));
    QByteArray entries;
    for (int i = 0; i < feeds; ++i) {
        const QString path = QStringLiteral("/f%1").arg(i);
        server.setRoute(path, quorvel::test::served(bench::storyFeed(i, items), delayMs));
        entries += bench::feedElement(server.url(path));
    }
    FeedStore store(dir.path());
    if (!quorvel::test::writeFile(store.storePath(), bench::storeXml(entries, 3600000)))
        return 1;

    CurlFetcher fetcher;
    OkPrompter prompter;
    ReaderOptions options;
    options.probeAddress = server.url("/probe");
    ReaderWindow reader(store, fetcher, prompter, options);
    bool started = false;
    QObject::connect(&reader, &ReaderWindow::startUpFinished, [&] { started = true; });
    reader.start();
    if (!waitFor([&] { return started; }, 120000))
        return 2;

    std::printf("reader responsiveness: %d feeds x %d items, %d ms per answer, %d cycles\n", feeds,
                items, delayMs, runs);
    qint64 worstStall = 0;
    for (int run = 1; run <= runs; ++run) {
        QElapsedTimer sinceTick, cycle;
        qint64 stall = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { stall = std::max(stall, sinceTick.restart()); });
        ticker.start(5);
        sinceTick.start();
        cycle.start();
        reader.requestRefresh();
        if (!waitFor([&] { return !reader.isRefreshing(); }, 120000))
            return 3;
        ticker.stop();
        worstStall = std::max(worstStall, stall);
        std::printf("  cycle %d: %lld ms, longest UI stall %lld ms\n", run,
                    static_cast<long long>(cycle.elapsed()), static_cast<long long>(stall));
    }
    std::printf("longest UI stall over all cycles: %lld ms (target < 100 ms)\n",
                static_cast<long long>(worstStall));
    return 0;
}
