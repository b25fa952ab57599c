#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "testfiles.h"

namespace quorvel {
namespace {

using test::ConcurrencyMeter;
using test::LoopbackServer;
using test::Response;
using test::served;
using test::writeFile;
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

TEST(CurlFetcher, readsHttpGzipLocalPathsAndFileUrlsAndFailsOnErrorsAndOtherSchemes) {
    const QString refusedUrl = "http://127.0.0.1:1/feed.xml";
    const QByteArray text = QByteArray("<item><title>Item</title></item>\n").repeated(2000);
    Response compressed = served(text);
    compressed.gzip = true;
    LoopbackServer server;
    server.setRoute("/feed.xml", served("<rss/>"));
    server.setRoute("/packed.xml", compressed);
    QTemporaryDir dir;
    const QString plain = dir.filePath("feed.xml");
    const QString unusual = dir.filePath("my feed \u00e9.xml");
    ASSERT_TRUE(writeFile(plain, "<rss>plain</rss>"));
    ASSERT_TRUE(writeFile(unusual, "<rss>unusual</rss>"));
    CurlFetcher fetcher;

    auto batch = fetcher.start({server.url("/feed.xml"), server.url("/packed.xml"), plain,
                                QUrl::fromLocalFile(unusual).toString(QUrl::FullyEncoded),
                                "  file:" + plain + "\n", dir.filePath("missing.xml"),
                                " " + server.url("/missing"), "ftp://127.0.0.1/feed.xml",
                                "javascript:alert(1)", "mailto:someone@example.org", refusedUrl});

    const FetchResult http = batch->take(0);
    ASSERT_TRUE(http.ok) << http.error.toStdString();
    EXPECT_EQ(http.body, "<rss/>");
    EXPECT_EQ(http.httpStatus, 200);
    EXPECT_EQ(http.charset, "utf-8");
    EXPECT_EQ(server.requests().value(0).header("User-Agent"), CurlFetcher::userAgent());
    EXPECT_EQ(batch->take(1).body, text);
    for (std::size_t i : {2, 4})
        EXPECT_EQ(batch->take(i).body, "<rss>plain</rss>") << i;
    EXPECT_EQ(batch->take(3).body, "<rss>unusual</rss>");
    expectFailed(batch->take(5), "cannot read " + dir.filePath("missing.xml"), true);
    const FetchResult missing = batch->take(6); // white space around the address ignored
    EXPECT_EQ(missing.httpStatus, 404);
    expectFailed(missing, "HTTP 404", true);
    for (std::size_t i = 7; i < 10; ++i)
        expectFailed(batch->take(i), "unsupported address", true);
    expectFailed(batch->take(10), refusedUrl);
    EXPECT_EQ(charsetOfContentType("text/xml;Charset=\"ISO-8859-1\" ; q=1"), "ISO-8859-1");
    EXPECT_EQ(charsetOfContentType("application/rss+xml"), "");
}

TEST(CurlFetcher, followsFiveRedirectsAcrossHostsButNotASixthNorToOtherSchemes) {
    auto redirectTo = [](const QByteArray& location) {
        Response response;
        response.status = 302;
        response.headers = {{"Location", location}};
        return response;
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

// Decoded gzip bodies meet the cap in the refresh folder's hostile feeds.
TEST(CurlFetcher, capsTheBodyFromNetworkAndDisk) {
    FetchLimits limits;
    limits.maxBodyBytes = 1024;
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("over.xml"), QByteArray(1025, 'x')));
    LoopbackServer server;
    server.setRoute("/exact", served(QByteArray(1024, 'x')));
    server.setRoute("/over", served(QByteArray(1025, 'x')));
    CurlFetcher fetcher(limits);

    auto batch =
        fetcher.start({server.url("/exact"), server.url("/over"), dir.filePath("over.xml")});
    EXPECT_EQ(batch->take(0).body.size(), 1024);
    for (std::size_t i : {1, 2}) {
        const FetchResult over = batch->take(i);
        EXPECT_EQ(over.error, "response larger than 1 KiB") << i;
        EXPECT_TRUE(!over.ok && over.body.isEmpty()) << i;
    }
}

TEST(CurlFetcher, startsNoMoreWhileBodiesWaitingBehindASlowRequestFillTheirBudget) {
    FetchLimits limits;
    limits.maxHeldBytes = 50 * 1024; // less than one body
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

TEST(CurlFetcher, givesUpAtTheTimeLimitsNotWhenTheServerFinishes) {
    FetchLimits limits;
    limits.totalTimeoutMs = 500;
    limits.lowSpeedBytesPerSec = 1000;
    limits.lowSpeedSeconds = 1;
    LoopbackServer server;
    server.setRoute("/late", served("late", 3000));
    Response drip = served(QByteArray(4000, 'd')); // 200 s at this pace
    drip.dripBytesPerSecond = 20;
    server.setRoute("/drip", drip);

    auto start = Clock::now();
    expectFailed(CurlFetcher(limits).fetch(server.url("/late")), server.url("/late"));
    EXPECT_LT(secondsSince(start), 2.5);
    limits.totalTimeoutMs = 60000;
    start = Clock::now();
    EXPECT_FALSE(CurlFetcher(limits).fetch(server.url("/drip")).ok);
    EXPECT_LT(secondsSince(start), 5.0);
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
        int total = 0;
        for (const auto& server : servers) {
            EXPECT_LE(server->meter().maximum(), c.limits.maxPerHost);
            total += server->totalRequests();
        }
        EXPECT_EQ(total, c.requests) << "no retries";
    }
}

TEST(CurlFetcher, cancelFromAnotherThreadAndDestroyingABatchEndTransfersPromptly) {
    LoopbackServer server;
    server.setRoute("/quick", served("quick"));
    server.setRoute("/slow", served("slow", 10000));
    CurlFetcher fetcher;
    auto batch = fetcher.start({server.url("/quick"), server.url("/slow"), server.url("/slow")});
    ASSERT_TRUE(batch->take(0).ok);

    auto start = Clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fetcher.cancel();
    });
    const FetchResult slow = batch->take(1);
    canceller.join();
    EXPECT_LT(secondsSince(start), 3.0);
    for (const FetchResult& cancelled : {slow, batch->take(2)})
        EXPECT_EQ(cancelled.error, "cancelled");
    EXPECT_TRUE(fetcher.fetch(server.url("/quick")).ok) << "later batches are unaffected";

    auto doomed = fetcher.start({server.url("/slow"), server.url("/slow")});
    while (server.requestCount("/slow") < 4 && secondsSince(start) < 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    start = Clock::now();
    doomed.reset();
    EXPECT_LT(secondsSince(start), 3.0);
}

} // namespace
} // namespace quorvel
