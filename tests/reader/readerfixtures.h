#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include "platform/curlfetcher.h"
#include "reader/readerwindow.h"
#include "recordingport.h"
#include "store/feedstore.h"
#include "testfiles.h"

namespace quorvel::test {

// Runs the event loop until done() holds or timeoutMs passes; returns done().
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return done();
}

// Catches what would go to the desktop's handlers for these URL schemes while it lives.
class DesktopCatcher : public QObject {
    Q_OBJECT
public:
    explicit DesktopCatcher(const QStringList& schemes) : schemes(schemes) {
        for (const QString& scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopCatcher() override {
        for (const QString& scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    const QStringList schemes;
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

// A store at the current version with these settings and feeds; any style values will do.
inline QByteArray storeText(const QString& feeds, bool startMinimised = false,
                            const QString& refresh = "60000") {
    QString root =
        "<root magnetic='false' refresh='%1' min='%2' trans='230' quorvelVersion='1_6_0_0'";
    for (const char* style : {"heading", "body", "link", "hover", "visited", "bDate"})
        root += QStringLiteral(" %1='font-family:arial;color:#000000;'").arg(style);
    return (root.arg(refresh, startMinimised ? "true" : "false") + ">" + feeds + "</root>")
        .toUtf8();
}

inline QString feedElement(const QString& url) {
    return "<feed url='" + url + "' num='5' headers='false' disabled='false'/>";
}

// A reader window's surroundings: a store, a server answering the probe and the feed /a.
struct ReaderRig {
    QTemporaryDir dir;
    LoopbackServer server;
    FeedStore store{dir.path()};
    CurlFetcher fetcher;
    RecordingPort prompter; // answers Ok
    std::unique_ptr<ReaderWindow> window;

    ReaderRig() {
        server.setRoute("/probe", served("ok"));
        server.setRoute("/a", served(rssFeed("Alpha", 3)));
    }

    bool writeStore(bool startMinimised = false, const QString& refresh = "60000",
                    const QString& feedPath = "/a") {
        return writeFile(store.storePath(),
                         storeText(feedElement(server.url(feedPath)), startMinimised, refresh));
    }

    ReaderWindow& makeReader(bool trayAvailable = true, Prompter* asker = nullptr) {
        ReaderOptions options;
        options.trayAvailable = trayAvailable;
        options.probeAddress = server.url("/probe");
        window = std::make_unique<ReaderWindow>(store, fetcher, asker ? *asker : prompter, options);
        return *window;
    }

    ReaderWindow& startReader(bool trayAvailable = true) {
        ReaderWindow& reader = makeReader(trayAvailable);
        QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
        reader.start();
        EXPECT_TRUE(waitUntil([&] { return started.count() == 1; }));
        return reader;
    }
};

} // namespace quorvel::test
