#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "cyclefixture.h"
#include "refresh/feedcache.h"
#include "refresh/refreshcycle.h"

namespace quorvel {
namespace {

using namespace test;

// A feed that answers with validators, so that a second request can be answered by a 304.
Response validated(const QByteArray& body) {
    Response response = served(body);
    response.etag = "\"v1\"";
    response.lastModified = "Mon, 07 Dec 2026 10:00:00 GMT";
    return response;
}

class PoliteCycleTest : public CycleFixture {
protected:
    // Serves each feed at its path, lists them all in the store and runs a first cycle.
    void startWith(const QList<QPair<QString, Response>>& feeds) {
        QStringList paths;
        for (const auto& [path, response] : feeds) {
            server.setRoute(path, response);
            paths << path;
        }
        writeFeeds(paths);
        ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    }
    CycleEnd runCycle() {
        port = RecordingPort();
        return cycle->refreshFeeds();
    }
    // The program started again: a new cycle object over the same data folder.
    void restart() { cycle = std::make_unique<RefreshCycle>(store, fetcher, port, onlineProbe()); }
    QList<ReceivedRequest> requestsFor(const QString& path) const {
        QList<ReceivedRequest> out;
        for (const ReceivedRequest& request : server.requests())
            if (request.target == path.toUtf8())
                out << request;
        return out;
    }
    QString cacheFileOf(const QString& path) const {
        return FeedCache(store.folder() + "/cache").pathFor(server.url(path));
    }

    std::unique_ptr<RefreshCycle> cycle =
        std::make_unique<RefreshCycle>(store, fetcher, port, onlineProbe());
};

TEST_F(PoliteCycleTest, SecondCycleAsksWithValidatorsAndA304ShowsTheSamePageWithoutRewritingIt) {
    startWith({{"/a", validated(rssFeed("Alpha", 3))},
               {"/b", served(rssFeed("Beta", 2))}}); // a server without validators
    const QString first = page();
    ASSERT_TRUE(first.contains("Alpha item 3"));
    EXPECT_EQ(port.callsOf("summary"), QStringList{"2 0 0 0"});
    const qint64 firstBytes = server.bytesSent();
    QFileInfo cacheFile(cacheFileOf("/a"));
    ASSERT_TRUE(cacheFile.exists());
    EXPECT_EQ(cacheFile.permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(store.pagePath()).constData(), &before), 0);

    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    const QList<ReceivedRequest> asked = requestsFor("/a");
    ASSERT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[0].header("If-None-Match").isEmpty());
    EXPECT_EQ(asked[1].header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(asked[1].header("If-Modified-Since"), "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_TRUE(requestsFor("/b").last().header("If-None-Match").isEmpty());
    EXPECT_EQ(port.callsOf("summary"), QStringList{"1 1 0 0"});
    ASSERT_EQ(port.summaries.size(), 1u);
    EXPECT_GT(port.summaries[0].bytesReceived, 0);
    EXPECT_LT(server.bytesSent() - firstBytes, firstBytes);

    EXPECT_EQ(page(), first) << "a 304 shows the cached copy exactly as a full fetch would";
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(store.pagePath()).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an identical page is not rewritten";
    EXPECT_TRUE(port.callsOf("page").isEmpty()) << "nor shown again";
    EXPECT_EQ(port.callsOf("unchanged"), QStringList({store.pagePath(), store.pagePath()}));
    EXPECT_TRUE(port.prompts.empty());

    // A change of the feed reaches the page again.
    server.setRoute("/b", served(rssFeed("Beta", 4)));
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_TRUE(page().contains("Beta item 4"));
    EXPECT_EQ(port.callsOf("page"), QStringList{store.pagePath()});
}

TEST_F(PoliteCycleTest, FailingFeedWithACopyKeepsItsItemsWithANoteAndIsStillLogged) {
    startWith({{"/a", served(rssFeed("Alpha", 2))}, {"/gone", served(rssFeed("Gone", 1))}});
    EXPECT_FALSE(page().contains("not updated since"));

    server.setRoute("/a", {.status = 500, .body = "oops"});
    server.setRoute("/gone", served("<rss><channel>")); // not well-formed: a failed load too
    QFile::remove(cacheFileOf("/gone"));                // and no copy to fall back on
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    const QString shown = page();
    EXPECT_TRUE(shown.contains("Alpha item 2"));
    EXPECT_TRUE(shown.contains(QRegularExpression("Alpha \\(not updated since [^)]*\\d\\)</span>")))
        << shown.toStdString();
    EXPECT_FALSE(shown.contains("Gone")) << "without a copy a failed feed is left out";
    const QStringList log = logLines();
    ASSERT_EQ(log.size(), 3);
    EXPECT_TRUE(log[1].endsWith(server.url("/a")));
    EXPECT_TRUE(log[2].endsWith(server.url("/gone")));
    ASSERT_EQ(port.prompts.size(), 1u) << "the error log is offered as before";
    EXPECT_EQ(port.callsOf("summary"), QStringList{"0 0 1 2"});
}

TEST_F(PoliteCycleTest, TooManyRequestsIsNotAskedAgainBeforeItsTimeAndTheCopyIsShownMeanwhile) {
    startWith({{"/a", served(rssFeed("Alpha", 2))}, {"/b", served(rssFeed("Beta", 1))}});

    server.setRoute("/a",
                    {.status = 429, .body = "slow down", .headers = {{"Retry-After", "3600"}}});
    server.setRoute("/b", {.status = 503,
                           .body = "busy",
                           .headers = {{"Retry-After", "Fri, 31 Dec 2100 23:59:59 GMT"}}});
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_EQ(logLines().size(), 3) << "the answer that asked for a pause is a failed load";
    EXPECT_EQ(port.callsOf("summary"), QStringList{"0 0 2 2"});

    // Neither is asked again, also after a restart; both stay on the page with the note.
    server.setRoute("/a", served(rssFeed("Alpha", 5)));
    restart();
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_EQ(server.requestCount("/a"), 2);
    EXPECT_EQ(server.requestCount("/b"), 2);
    EXPECT_TRUE(page().contains("Alpha item 2"));
    EXPECT_FALSE(page().contains("Alpha item 5"));
    EXPECT_EQ(page().count("not updated since"), 2);
    EXPECT_EQ(logLines().size(), 3) << "waiting as asked is no failure";
    EXPECT_TRUE(port.prompts.empty());
    EXPECT_EQ(port.callsOf("summary"), QStringList{"0 0 2 0"});

    // Once the time has come the feed is asked for again. A wait of years is cut to a day.
    std::optional<CachedFeed> a = cycle->cache().load(server.url("/a"));
    std::optional<CachedFeed> b = cycle->cache().load(server.url("/b"));
    ASSERT_TRUE(a && a->retryAfter && b && b->retryAfter);
    EXPECT_LE(*b->retryAfter, QDateTime::currentDateTimeUtc().addSecs(kLongestBackOffSeconds));
    EXPECT_EQ(b->body, rssFeed("Beta", 1)) << "the back-off keeps the copy";
    a->retryAfter = QDateTime::currentDateTimeUtc().addSecs(-1);
    ASSERT_TRUE(cycle->cache().store(*a));
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_EQ(server.requestCount("/a"), 3);
    EXPECT_TRUE(page().contains("Alpha item 5"));
}

TEST_F(PoliteCycleTest, TooManyRequestsWithoutACopyIsLoggedEveryCycleLikeAnyFailure) {
    startWith({{"/a", {.status = 429, .body = "", .headers = {{"Retry-After", "600"}}}}});
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_EQ(server.requestCount("/a"), 1);
    EXPECT_EQ(logLines().size(), 3);
    EXPECT_EQ(port.callsOf("summary"), QStringList{"0 0 0 1"});
}

TEST_F(PoliteCycleTest, CacheSurvivesARestartAndLosesTheEntriesOfDeletedFeeds) {
    startWith({{"/a", validated(rssFeed("Alpha", 1))}, {"/b", validated(rssFeed("Beta", 1))}});
    const QString first = page();

    restart();
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_EQ(requestsFor("/a").last().header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(port.callsOf("summary"), QStringList{"0 2 0 0"});
    EXPECT_EQ(page(), first);
    EXPECT_EQ(port.callsOf("page"), QStringList{store.pagePath()})
        << "a new view is given the page once";

    ASSERT_TRUE(QFile::exists(cacheFileOf("/b")));
    writeFeeds({"/a"});
    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_FALSE(QFile::exists(cacheFileOf("/b")));
    EXPECT_TRUE(QFile::exists(cacheFileOf("/a")));
    writeFeeds({});
    ASSERT_EQ(runCycle(), CycleEnd::NoFeeds);
    EXPECT_FALSE(QFile::exists(cacheFileOf("/a")));
}

TEST_F(PoliteCycleTest, DamagedCacheFileIsIgnoredAndTheFeedIsFetchedInFull) {
    startWith({{"/a", validated(rssFeed("Alpha", 2))}, {"/b", validated(rssFeed("Beta", 2))}});
    const QString first = page();

    // /a: its header is garbage; /b: one letter of its body changed (header intact, and
    // still a well-formed feed).
    ASSERT_TRUE(writeFile(cacheFileOf("/a"), "\x01\x02 not a cache file\n\n<rss>"));
    QByteArray damaged = readFile(cacheFileOf("/b"));
    const qsizetype letter = damaged.lastIndexOf("Beta item 2");
    ASSERT_GT(letter, 0);
    damaged[letter] = 'Z';
    ASSERT_TRUE(writeFile(cacheFileOf("/b"), damaged));

    ASSERT_EQ(runCycle(), CycleEnd::PageWritten);
    EXPECT_TRUE(requestsFor("/a").last().header("If-None-Match").isEmpty());
    EXPECT_EQ(requestsFor("/b").size(), 3)
        << "a 304 for a damaged copy is followed by a full fetch";
    EXPECT_TRUE(requestsFor("/b").last().header("If-None-Match").isEmpty());
    EXPECT_EQ(page(), first);
    EXPECT_TRUE(logLines().isEmpty());
    EXPECT_EQ(port.callsOf("summary"), QStringList{"2 0 0 0"});
    EXPECT_EQ(cycle->cache().load(server.url("/b"))->body, rssFeed("Beta", 2));
}

TEST(FeedCache, KeepsWhatItWasGivenAndStaysWithinItsSize) {
    QTemporaryDir dir;
    FeedCache cache(dir.path() + "/cache", 3000);
    CachedFeed entry;
    entry.url = "http://127.0.0.1/feed?x=1 2";
    entry.hasBody = true;
    entry.body = QByteArray("<rss>\n\n\0x</rss>", 15);
    entry.charset = "ISO-8859-1";
    entry.finalUrl = "http://127.0.0.1/moved";
    entry.etag = "W/\"a b\"\n";
    entry.lastModified = "Mon, 07 Dec 2026 10:00:00 GMT";
    entry.fetchedAt = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    entry.confirmedAt = QDateTime::fromSecsSinceEpoch(1'800'000'600, Qt::UTC);
    ASSERT_TRUE(cache.store(entry));
    EXPECT_EQ(QFileInfo(dir.path() + "/cache").permissions() & (QFile::ExeGroup | QFile::ExeOther),
              0);

    const std::optional<CachedFeed> back = cache.load(entry.url);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->body, entry.body);
    EXPECT_EQ(back->charset, entry.charset);
    EXPECT_EQ(back->finalUrl, entry.finalUrl);
    EXPECT_EQ(back->etag, entry.etag);
    EXPECT_EQ(back->lastModified, entry.lastModified);
    EXPECT_EQ(back->fetchedAt, entry.fetchedAt);
    EXPECT_EQ(back->confirmedAt, entry.confirmedAt);
    EXPECT_FALSE(back->retryAfter);
    const std::optional<CachedFeed> headerOnly = cache.load(entry.url, false);
    ASSERT_TRUE(headerOnly);
    EXPECT_TRUE(headerOnly->hasBody && headerOnly->body.isEmpty());
    EXPECT_FALSE(cache.load("http://127.0.0.1/other"));

    // A file cut short, or with more behind its body, is no entry.
    const QByteArray whole = readFile(cache.pathFor(entry.url));
    ASSERT_TRUE(writeFile(cache.pathFor(entry.url), whole.chopped(1)));
    EXPECT_FALSE(cache.load(entry.url, false));
    ASSERT_TRUE(writeFile(cache.pathFor(entry.url), whole + "x"));
    EXPECT_FALSE(cache.load(entry.url, false));
    ASSERT_TRUE(cache.store(entry));

    // Over the limit the entries confirmed longest ago go first.
    QStringList urls;
    for (int i = 0; i < 5; ++i) {
        CachedFeed other = entry;
        other.url = QStringLiteral("http://127.0.0.1/%1").arg(i);
        other.body = QByteArray(1000, 'x');
        other.confirmedAt = entry.confirmedAt.addSecs(i + 1);
        ASSERT_TRUE(cache.store(other));
        urls << other.url;
    }
    cache.prune(urls + QStringList{entry.url});
    EXPECT_FALSE(cache.load(entry.url, false));
    EXPECT_FALSE(cache.load(urls[2], false));
    EXPECT_TRUE(cache.load(urls[3], false));
    EXPECT_TRUE(cache.load(urls[4], false));
}

} // namespace
} // namespace quorvel
