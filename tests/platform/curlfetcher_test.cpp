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

Response redirectTo(const QByteArray& location) {
    Response response;
    response.status = 302;
    response.headers = {{"Location", location}};
    return response;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(CurlFetcher, fetchesPlainAndGzipBodiesNamingItselfHonestly) {
    const QByteArray text = QByteArray("<item><title>Item</title></item>\n").repeated(2000);
    Response compressed = served(text);
    compressed.gzip = true;
    LoopbackServer server;
    server.setRoute("/feed.xml", served("<rss version=\"2.0\"/>"));
    server.setRoute("/packed.xml", compressed);
    CurlFetcher fetcher;

    const FetchResult plain = fetcher.fetch(server.url("/feed.xml"));
    ASSERT_TRUE(plain.ok) << plain.error.toStdString();
    EXPECT_EQ(plain.body, "<rss version=\"2.0\"/>");
    EXPECT_EQ(plain.httpStatus, 200);
    EXPECT_EQ(plain.charset, "utf-8");
    EXPECT_EQ(fetcher.fetch(server.url("/packed.xml")).body, text);
    EXPECT_EQ(charsetOfContentType("text/xml;Charset=\"ISO-8859-1\" ; q=1"), "ISO-8859-1");
    EXPECT_EQ(charsetOfContentType("application/rss+xml"), "");
    EXPECT_EQ(server.requests().value(0).header("User-Agent"), CurlFetcher::userAgent());
    EXPECT_TRUE(CurlFetcher::userAgent().startsWith("QuorvelRSSReader/" QUORVEL_VERSION_TEXT " "));
}

TEST(CurlFetcher, followsFiveRedirectsAcrossHostsButNotASixthNorToOtherSchemes) {
    LoopbackServer first("127.0.0.1");
    LoopbackServer second("127.0.0.2");
    // /r0 -> /r1 -> ... -> /r4 -> the second server's /r5 -> /end
    for (int i = 0; i < 4; ++i)
        first.setRoute(QString("/r%1").arg(i), redirectTo(QString("/r%1").arg(i + 1).toUtf8()));
    first.setRoute("/r4", redirectTo(second.url("/r5").toUtf8()));
    second.setRoute("/r5", redirectTo("/end"));
    second.setRoute("/end", served("arrived"));
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("secret.txt"), "local content"));
    first.setRoute("/to-file",
                   redirectTo(QUrl::fromLocalFile(dir.filePath("secret.txt")).toEncoded()));
    first.setRoute("/to-ftp", redirectTo("ftp://127.0.0.1/feed.xml"));
    CurlFetcher fetcher;

    const FetchResult redirected = fetcher.fetch(first.url("/r1"));
    EXPECT_EQ(redirected.body, "arrived");
    EXPECT_EQ(redirected.finalUrl, second.url("/end")) << "relative URLs resolve against it";
    const FetchResult sixHops = fetcher.fetch(first.url("/r0"));
    EXPECT_FALSE(sixHops.ok);
    EXPECT_TRUE(sixHops.error.contains(first.url("/r0"))) << sixHops.error.toStdString();
    const FetchResult toFile = fetcher.fetch(first.url("/to-file"));
    EXPECT_FALSE(toFile.ok);
    EXPECT_FALSE(toFile.body.contains("local content"));
    // Refused before connecting: a followed redirect would fail on port 21 without the name.
    const FetchResult toFtp = fetcher.fetch(first.url("/to-ftp"));
    EXPECT_TRUE(toFtp.error.contains("\"ftp\"")) << toFtp.error.toStdString();
}

TEST(CurlFetcher, capsTheDecodedBodyFromNetworkAndDisk) {
    FetchLimits limits;
    limits.maxBodyBytes = 1024;
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("over.xml"), QByteArray(1025, 'x')));
    LoopbackServer server;
    server.setRoute("/exact", served(QByteArray(1024, 'x')));
    server.setRoute("/over", served(QByteArray(1025, 'x')));
    Response bomb = served(QByteArray(64 * 1024, 'a')); // tiny on the wire, large decoded
    bomb.gzip = true;
    server.setRoute("/bomb", bomb);
    CurlFetcher fetcher(limits);

    auto batch = fetcher.start(
        {server.url("/exact"), server.url("/over"), server.url("/bomb"), dir.filePath("over.xml")});

    EXPECT_EQ(batch->take(0).body.size(), 1024);
    for (std::size_t i : {1, 2, 3}) {
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
    CurlFetcher fetcher(limits);

    auto start = Clock::now();
    const FetchResult late = fetcher.fetch(server.url("/late"));
    EXPECT_FALSE(late.ok);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_TRUE(late.error.contains(server.url("/late"))) << late.error.toStdString();

    limits.totalTimeoutMs = 60000;
    CurlFetcher slowFetcher(limits);
    start = Clock::now();
    EXPECT_FALSE(slowFetcher.fetch(server.url("/drip")).ok);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST(CurlFetcher, keepsWithinTheConcurrencyLimitsCountedAtTheServers) {
    struct Case {
        FetchLimits limits;
        int hosts, requests, atLeast;
    };
    FetchLimits tight;
    tight.maxConcurrent = 8;
    tight.maxPerHost = 3;
    for (const Case& c : {Case{tight, 3, 40, 4}, Case{FetchLimits(), 10, 64, 7}}) {
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

TEST(CurlFetcher, readsLocalPathsAndFileUrlsAndFailsOnErrorsAndOtherSchemes) {
    QString goneUrl;
    {
        LoopbackServer gone;
        goneUrl = gone.url("/feed.xml");
    }
    QTemporaryDir dir;
    const QString plain = dir.filePath("feed.xml");
    const QString unusual = dir.filePath("my feed \u00e9.xml");
    ASSERT_TRUE(writeFile(plain, "<rss>plain</rss>"));
    ASSERT_TRUE(writeFile(unusual, "<rss>unusual</rss>"));
    LoopbackServer server;
    CurlFetcher fetcher;

    auto batch = fetcher.start({plain, QUrl::fromLocalFile(unusual).toString(QUrl::FullyEncoded),
                                "  file:" + plain + "\n", dir.filePath("missing.xml"),
                                " " + server.url("/missing"), "ftp://127.0.0.1/feed.xml",
                                "javascript:alert(1)", "mailto:someone@example.org", goneUrl});

    const FetchResult byPath = batch->take(0);
    EXPECT_EQ(byPath.body, "<rss>plain</rss>") << byPath.error.toStdString();
    EXPECT_EQ(byPath.httpStatus, 0);
    EXPECT_EQ(batch->take(1).body, "<rss>unusual</rss>");
    EXPECT_EQ(batch->take(2).body, "<rss>plain</rss>");
    EXPECT_TRUE(batch->take(3).error.startsWith("cannot read " + dir.filePath("missing.xml")));
    const FetchResult missing = batch->take(4); // white space around the address ignored
    EXPECT_EQ(missing.httpStatus, 404);
    EXPECT_TRUE(missing.error.startsWith("HTTP 404")) << missing.error.toStdString();
    EXPECT_TRUE(!missing.ok && missing.body.isEmpty());
    for (std::size_t i = 5; i < 8; ++i) {
        const FetchResult result = batch->take(i);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.startsWith("unsupported address")) << result.error.toStdString();
    }
    const FetchResult refused = batch->take(8);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.error.contains(goneUrl)) << refused.error.toStdString();
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
    EXPECT_EQ(slow.error, "cancelled");
    EXPECT_EQ(batch->take(2).error, "cancelled");
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
