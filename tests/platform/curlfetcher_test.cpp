#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::ConcurrencyMeter;
using test::LoopbackServer;
using test::Response;
using test::served;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A failed result: no body, and an error that names part (or begins with it).
void expectFailed(const FetchResult& result, const QString& part, bool begins = false) {
    EXPECT_TRUE(!result.ok && result.body.isEmpty());
    EXPECT_TRUE(begins ? result.error.startsWith(part) : result.error.contains(part))
        << result.error.toStdString();
}

TEST(CurlFetcher, readsHttpAndFailsOnHttpErrorsAndRefusedPorts) {
    const QString refusedUrl = "http://127.0.0.1:1/feed.xml";
    LoopbackServer server;
    server.setRoute("/feed.xml", served("<rss/>"));
    CurlFetcher fetcher;

    auto batch = fetcher.start({server.url("/feed.xml"), " " + server.url("/missing") + "\n",
                                refusedUrl, server.url("/feed.xml").replace("http:", "HTTP:")});

    const FetchResult http = batch->take(0);
    ASSERT_TRUE(http.ok) << http.error.toStdString();
    EXPECT_EQ(http.body, "<rss/>");
    EXPECT_EQ(http.httpStatus, 200);
    EXPECT_EQ(http.charset, "utf-8");
    EXPECT_EQ(server.requests().value(0).header("User-Agent"), CurlFetcher::userAgent());
    const FetchResult missing = batch->take(1); // white space around the address ignored
    EXPECT_EQ(missing.httpStatus, 404);
    expectFailed(missing, "HTTP 404", true);
    expectFailed(batch->take(2), refusedUrl);
    EXPECT_EQ(batch->take(3).body, "<rss/>") << "the scheme in any letter case";
    EXPECT_EQ(charsetOfContentType("text/xml;Charset=\"ISO-8859-1\" ; q=1"), "ISO-8859-1");
    EXPECT_EQ(charsetOfContentType("application/rss+xml"), "");
}

TEST(CurlFetcher, readsGzipSendsValidatorsAndReadsA304AndTheWaitA429Or503AsksFor) {
    LoopbackServer server;
    Response feed = served(QByteArray("<rss/>").repeated(500));
    feed.gzip = true;
    feed.etag = "\"e1\"";
    feed.lastModified = "Mon, 07 Dec 2026 10:00:00 GMT";
    server.setRoute("/feed.xml", feed);
    server.setRoute("/busy", {.status = 503, .headers = {{"Retry-After", "120"}}});
    server.setRoute("/limit",
                    {.status = 429, .headers = {{"Retry-After", "Sun, 06 Nov 2101 08:49:37 GMT"}}});
    server.setRoute("/odd", {.status = 304});
    CurlFetcher fetcher;

    const FetchResult full = fetcher.fetch(server.url("/feed.xml"));
    ASSERT_TRUE(full.ok && !full.notModified);
    EXPECT_EQ(full.body, feed.body) << "decompressed";
    EXPECT_EQ(full.etag, "\"e1\"");
    EXPECT_EQ(full.lastModified, "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(full.bytesReceived, server.bytesSent()) << "what came over the wire, compressed";
    EXPECT_LT(full.bytesReceived, full.body.size());

    const QDateTime before = QDateTime::currentDateTimeUtc();
    auto batch = fetcher.start(
        std::vector<FetchRequest>{{server.url("/feed.xml"), full.etag, full.lastModified},
                                  {server.url("/feed.xml"), "\"old\"", {}},
                                  {server.url("/busy"), {}, {}},
                                  {server.url("/limit"), {}, {}},
                                  {server.url("/odd"), {}, {}},
                                  {server.url("/feed.xml"), "bad\r\nX-Injected: 1", {}}});
    const FetchResult same = batch->take(0);
    EXPECT_TRUE(same.ok && same.notModified && same.body.isEmpty());
    EXPECT_EQ(same.httpStatus, 304);
    int conditional = 0; // the batch's requests arrive in any order
    for (const test::ReceivedRequest& request : server.requests())
        conditional += request.header("If-None-Match") == "\"e1\"" &&
                       request.header("If-Modified-Since") == "Mon, 07 Dec 2026 10:00:00 GMT";
    EXPECT_EQ(conditional, 1);
    EXPECT_GT(same.bytesReceived, 0);
    EXPECT_LT(same.bytesReceived, 200);
    const FetchResult changed = batch->take(1);
    EXPECT_TRUE(changed.ok && !changed.notModified && !changed.body.isEmpty());

    const FetchResult busy = batch->take(2);
    EXPECT_FALSE(busy.ok);
    ASSERT_TRUE(busy.retryAfter);
    EXPECT_GE(*busy.retryAfter, before.addSecs(120));
    EXPECT_LE(*busy.retryAfter, QDateTime::currentDateTimeUtc().addSecs(120));
    const FetchResult limited = batch->take(3);
    ASSERT_TRUE(limited.retryAfter);
    EXPECT_EQ(*limited.retryAfter, QDateTime(QDate(2101, 11, 6), QTime(8, 49, 37), Qt::UTC));
    const FetchResult odd = batch->take(4);
    EXPECT_FALSE(odd.ok) << "a 304 to a plain request is no answer";
    EXPECT_FALSE(odd.retryAfter);
    EXPECT_TRUE(batch->take(5).ok);
    for (const test::ReceivedRequest& request : server.requests()) {
        EXPECT_FALSE(request.header("If-None-Match").startsWith("bad"))
            << "a validator that would break the request is not sent";
        EXPECT_TRUE(request.header("X-Injected").isEmpty());
    }

    EXPECT_FALSE(retryAfterTime("soon", before));
    EXPECT_FALSE(retryAfterTime("-5", before));
    EXPECT_EQ(retryAfterTime(" 30 ", before), before.addSecs(30));
}

TEST(CurlFetcher, reusesConnectionsWhenRequestsTakeTurnsBetweenHostsAndFromBatchToBatch) {
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (int i = 1; i <= 3; ++i) {
        servers.push_back(std::make_unique<LoopbackServer>(QStringLiteral("127.0.0.%1").arg(i)));
        servers.back()->setRoute("/f", served("<rss/>", 5));
    }
    QStringList urls;
    for (int i = 0; i < 60; ++i)
        urls << servers[std::size_t(i % 3)]->url("/f");
    FetchLimits limits;
    limits.maxConcurrent = 4;
    limits.maxPerHost = 3;
    CurlFetcher fetcher(limits);
    const auto connections = [&] {
        int accepted = 0;
        for (const auto& server : servers)
            accepted += server->connectionsAccepted();
        return accepted;
    };
    auto batch = fetcher.start(urls);
    for (int i = 0; i < 60; ++i)
        EXPECT_TRUE(batch->take(std::size_t(i)).ok);
    const int opened = connections();
    EXPECT_LE(opened, 9) << "no connection closed only to open another";

    // The next batch (the next refresh) goes over the connections the last one left open.
    batch.reset();
    batch = fetcher.start(urls);
    for (int i = 0; i < 60; ++i)
        EXPECT_TRUE(batch->take(std::size_t(i)).ok);
    batch.reset();
    EXPECT_TRUE(fetcher.fetch(urls[0]).ok);
    EXPECT_EQ(connections(), opened);
}

// Reading a device or a FIFO would block for ever, and a local file would reach the page.
// The refresh folder's hostile feeds list more local addresses.
TEST(CurlFetcher, refusesAtOnceEveryAddressThatIsNotHttpOrHttpsAndOpensNothing) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QStringList refused{"FILE:///dev/ptmx",          "feed.xml",
                        "ftp://127.0.0.1/feed.xml",  "javascript:alert(1)",
                        "http:/127.0.0.1/one-slash", "httpx://127.0.0.1/",
                        "//127.0.0.1/feed.xml",      " x http://127.0.0.1/"};
    refused << "" << fifo << "  file:" + fifo + "\n";
    CurlFetcher fetcher;
    const auto start = Clock::now();
    auto batch = fetcher.start(refused);
    for (qsizetype i = 0; i < refused.size(); ++i) {
        const FetchResult result = batch->take(std::size_t(i));
        expectFailed(result, "not a web address: " + refused[i], true);
        EXPECT_EQ(result.httpStatus, 0) << i;
    }
    EXPECT_LT(secondsSince(start), 2.0);
}

TEST(CurlFetcher, followsFiveRedirectsAcrossHostsButNotASixthNorToOtherSchemes) {
    auto redirectTo = [](const QByteArray& to) {
        return Response{.status = 302, .headers = {{"Location", to}}};
    };
    LoopbackServer first("127.0.0.1");
    LoopbackServer second("127.0.0.2");
    // /r0 -> /r1 -> ... -> /r4 -> the second server's /r5 -> /end
    for (int i = 0; i < 4; ++i)
        first.setRoute(QString("/r%1").arg(i), redirectTo(QString("/r%1").arg(i + 1).toUtf8()));
    first.setRoute("/r4", redirectTo(second.url("/r5").toUtf8()));
    second.setRoute("/r5", redirectTo("/end"));
    second.setRoute("/end", served("arrived"));
    first.setRoute("/to-file", redirectTo("file:///etc/passwd"));
    first.setRoute("/to-ftp", redirectTo("ftp://127.0.0.1/feed.xml"));
    CurlFetcher fetcher;

    const FetchResult redirected = fetcher.fetch(first.url("/r1"));
    EXPECT_EQ(redirected.body, "arrived");
    EXPECT_EQ(redirected.finalUrl, second.url("/end")) << "relative URLs resolve against it";
    expectFailed(fetcher.fetch(first.url("/r0")), first.url("/r0"));
    expectFailed(fetcher.fetch(first.url("/to-file")), "\"file\"");
    // Refused before connecting: a followed redirect would fail on port 21 without the name.
    expectFailed(fetcher.fetch(first.url("/to-ftp")), "\"ftp\"");
}

// Decoded gzip bodies meet the cap in the refresh folder's hostile feeds. Either time limit
// alone ends a transfer: the other is left at its default, far beyond the test's bound.
TEST(CurlFetcher, capsTheBodyAndGivesUpAtTheTimeLimitsNotWhenTheServerFinishes) {
    FetchLimits limits;
    limits.maxBodyBytes = 1024;
    limits.totalTimeoutMs = 500;
    LoopbackServer server;
    server.setRoute("/exact", served(QByteArray(1024, 'x')));
    server.setRoute("/over", served(QByteArray(1025, 'x')));
    server.setRoute("/late", served("late", 5000));
    Response drip = served(QByteArray(1000, 'd')); // 50 s at this pace
    drip.dripBytesPerSecond = 20;
    server.setRoute("/drip", drip);

    auto start = Clock::now();
    CurlFetcher fetcher(limits);
    auto batch = fetcher.start({server.url("/exact"), server.url("/over"), server.url("/late")});
    EXPECT_EQ(batch->take(0).body.size(), 1024);
    const FetchResult over = batch->take(1);
    EXPECT_EQ(over.error, "response larger than 1 KiB");
    EXPECT_TRUE(!over.ok && over.body.isEmpty());
    expectFailed(batch->take(2), server.url("/late"));
    EXPECT_LT(secondsSince(start), 2.5);
    limits = FetchLimits();
    limits.lowSpeedBytesPerSec = 1000;
    limits.lowSpeedSeconds = 1;
    start = Clock::now();
    EXPECT_FALSE(CurlFetcher(limits).fetch(server.url("/drip")).ok);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST(CurlFetcher, startsNoMoreWhileBodiesWaitingBehindASlowRequestFillTheirBudget) {
    FetchLimits limits;
    limits.maxHeldBytes = 50 * 1024; // less than one body
    limits.maxPerHost = 6;
    LoopbackServer server;
    server.setRoute("/slow", served("first", 2000));
    server.setRoute("/big", served(QByteArray(60 * 1024, 'x')));
    CurlFetcher fetcher(limits);
    QStringList urls{server.url("/slow")};
    for (int i = 0; i < 8; ++i)
        urls << server.url(QStringLiteral("/big?%1").arg(i));

    auto batch = fetcher.start(urls);
    // Six per host start at once; the five big bodies then wait for the slow first one.
    const auto start = Clock::now();
    while (server.requestCount("/big") < 5 && secondsSince(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(server.requestCount("/big"), 5);
    for (qsizetype i = 0; i < urls.size(); ++i)
        EXPECT_TRUE(batch->take(std::size_t(i)).ok) << i;
    EXPECT_EQ(server.requestCount("/big"), 8);
}

TEST(CurlFetcher, keepsWithinTheConcurrencyLimitsCountedAtTheServers) {
    FetchLimits tight;
    tight.maxConcurrent = 8;
    tight.maxPerHost = 3;
    const struct {
        FetchLimits limits;
        int hosts, requests, atLeast;
    } cases[] = {{tight, 3, 40, 4}, {FetchLimits(), 10, 64, 7}};
    for (const auto& c : cases) {
        ConcurrencyMeter shared;
        std::vector<std::unique_ptr<LoopbackServer>> servers;
        for (int i = 1; i <= c.hosts; ++i) {
            servers.push_back(std::make_unique<LoopbackServer>(QString("127.0.0.%1").arg(i)));
            servers.back()->setMeter(shared);
        }
        QStringList urls;
        for (int i = 0; i < c.requests; ++i) {
            LoopbackServer& server = *servers[std::size_t(i % c.hosts)];
            // Later requests answer sooner: results still come by request index.
            server.setRoute(QString("/feed%1").arg(i),
                            served(QByteArray::number(i), 100 + (c.requests - i) * 2));
            urls << server.url(QString("/feed%1").arg(i));
        }
        CurlFetcher fetcher(c.limits);
        auto batch = fetcher.start(urls);
        for (int i = 0; i < c.requests; ++i)
            EXPECT_EQ(batch->take(std::size_t(i)).body, QByteArray::number(i));
        EXPECT_LE(shared.maximum(), c.limits.maxConcurrent);
        EXPECT_GE(shared.maximum(), c.atLeast);
        int total = 0, connections = 0;
        for (const auto& server : servers) {
            EXPECT_LE(server->meter().maximum(), c.limits.maxPerHost);
            total += server->totalRequests();
            connections += server->connectionsAccepted();
        }
        EXPECT_EQ(total, c.requests) << "no retries";
        // Requests take turns between the hosts: no connection closed only to open another.
        EXPECT_LE(connections, c.hosts * c.limits.maxPerHost);
    }
}

// A batch's time limit, cancel() from another thread and destroying a batch each end the
// transfers still running; results in hand are kept and later batches are unaffected.
TEST(CurlFetcher, transfersEndAtTheBatchTimeLimitOnCancelAndWithTheirBatch) {
    LoopbackServer server;
    server.setRoute("/quick", served("quick"));
    server.setRoute("/slow", served("slow", 20000));
    const QString quick = server.url("/quick"), slow = server.url("/slow");
    FetchLimits limits;
    limits.batchTimeoutMs = 800;
    limits.maxPerHost = 2; // the later slow requests wait for a free connection
    CurlFetcher limited(limits), fetcher;

    auto start = Clock::now();
    auto batch = limited.start({slow, quick, slow, slow, slow});
    for (std::size_t i : {0, 2, 3, 4})
        expectFailed(batch->take(i), "not done within the time limit of 0.8 s", true);
    EXPECT_GT(secondsSince(start), 0.7);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(batch->take(1).body, "quick") << "a result in hand is kept";
    EXPECT_TRUE(limited.fetch(quick).ok) << "the next batch has a time of its own";

    batch = fetcher.start({quick, slow, slow});
    ASSERT_TRUE(batch->take(0).ok);
    start = Clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fetcher.cancel();
    });
    const FetchResult cancelled = batch->take(1);
    canceller.join();
    EXPECT_LT(secondsSince(start), 3.0);
    for (const FetchResult& result : {cancelled, batch->take(2)})
        EXPECT_EQ(result.error, "cancelled");
    EXPECT_TRUE(fetcher.fetch(quick).ok) << "later batches are unaffected";

    const int slowBefore = server.requestCount("/slow");
    batch = fetcher.start({slow, slow});
    while (server.requestCount("/slow") < slowBefore + 2 && secondsSince(start) < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    start = Clock::now();
    batch.reset();
    EXPECT_LT(secondsSince(start), 3.0);
}

} // namespace
} // namespace quorvel
