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
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "reader/readerwindow.h"
#ifdef QUORVEL_WITH_WEBENGINE
#include "reader/webenginesetup.h"
#endif
#include "store/feedstore.h"
#include "store/prompter.h"

using namespace quorvel;
using quorvel::test::LoopbackServer;
using quorvel::test::Response;

namespace {

struct OkPrompter : Prompter {
    MessageAnswer prompt(const Message&) override { return MessageAnswer::Ok; }
};

QByteArray feedXml(int feed, int items) {
    QByteArray xml = "<rss version=\"2.0\"><channel><title>Feed " + QByteArray::number(feed) +
                     "</title><link>http://example.org/</link>";
    for (int i = 0; i < items; ++i)
        xml += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://example.org/" +
               QByteArray::number(i) +
               "</link><description>&lt;p&gt;A summary with "
               "&lt;b&gt;bold&lt;/b&gt; text.&lt;/p&gt;</description></item>";
    return xml + "</channel></rss>";
}

QByteArray storeXml(const QString& feeds) {
    return ("<root heading='font-family:arial;font-size:12;color:#000000;font-weight:bold;"
            "font-style:normal;' body='font-family:arial;font-size:11;color:#000000;"
            "font-weight:normal;font-style:normal;background-color:#FFFFFF' link='font-family:"
            "arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;' hover='color:"
            "#FF0000;font-weight:bold;font-style:normal;' visited='color:#FF0000;font-weight:bold;"
            "font-style:normal;' bDate='font-family:arial;font-size:11;color:#000000;font-weight:"
            "normal;font-style:italic' magnetic='false' refresh='3600000' min='false' trans='255' "
            "quorvelVersion='1_6_0_0'>" +
            feeds + "</root>")
        .toUtf8();
}

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
    Response probe;
    probe.body = "ok";
    server.setRoute("/probe", probe);
    QString entries;
    for (int i = 0; i < feeds; ++i) {
        Response response;
        response.body = feedXml(i, items);
        response.delayMs = delayMs;
        server.setRoute(QStringLiteral("/f%1").arg(i), response);
        entries += "<feed url='" + server.url(QStringLiteral("/f%1").arg(i)) +
                   "' num='10' headers='false' disabled='false'/>";
    }
    FeedStore store(dir.path());
    QFile file(store.storePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(storeXml(entries)) < 0)
        return 1;
    file.close();

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
