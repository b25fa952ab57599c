#pragma once

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "recordingport.h"
#include "store/feedstore.h"
#include "testfiles.h"

namespace quorvel::test {

// What a refresh cycle runs against: a data folder, a loopback server that answers the
// probe, the real fetcher and a port that records what the cycle tells the windows.
class CycleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setRoute("/probe", served("ok"));
    }

    QString onlineProbe() const { return server.url("/probe"); }
    static QString offlineProbe() { return QStringLiteral("http://127.0.0.1:1/"); }

    // A current store with these feed entries.
    void writeStore(const QString& feeds, bool minimised = false) {
        ASSERT_TRUE(writeFile(store.storePath(),
                              ("<root heading='h' body='b' link='l' hover='v' visited='v' "
                               "bDate='d' magnetic='false' refresh='60000' min='" +
                               QString(minimised ? "true" : "false") +
                               "' trans='255' quorvelVersion='1_6_0_0'>" + feeds + "</root>")
                                  .toUtf8()));
    }
    QString feedEntry(const QString& path, const char* disabled = "false") const {
        return QStringLiteral("<feed url='%1' num='10' headers='false' disabled='%2'/>")
            .arg(server.url(path), disabled);
    }
    // A current store listing the server's paths as enabled feeds.
    void writeFeeds(const QStringList& paths) {
        QString feeds;
        for (const QString& path : paths)
            feeds += feedEntry(path);
        writeStore(feeds);
    }
    QString page() const {
        const QByteArray bytes = readFile(store.pagePath());
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "the page starts with a UTF-8 BOM";
        return QString::fromUtf8(bytes.mid(3));
    }
    // The lines of error.log, each of which ends with CR LF.
    QStringList logLines() const {
        const QByteArray log = readFile(store.errorLogPath());
        EXPECT_TRUE(log.isEmpty() || log.endsWith("\r\n"));
        return QString::fromUtf8(log).split("\r\n", Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    FeedStore store{dir.path()};
    LoopbackServer server;
    CurlFetcher fetcher;
    RecordingPort port;
};

} // namespace quorvel::test
