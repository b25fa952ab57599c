#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"

namespace quorvel {
namespace {

using test::ConcurrencyMeter;
using test::LoopbackServer;
using test::Response;
using Clock = std::chrono::steady_clock;

Response answer(const QByteArray& body, int delayMs = 0) {
    Response response;
    response.body = body;
    response.delayMs = delayMs;
    return response;
}

Response redirectTo(const QByteArray& location) {
    Response response;
    response.status = 302;
    response.headers = {{"Location", location}};
    return response;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Polls until done() holds or a generous time has passed.
bool eventually(const std::function<bool()>& done) {
    const auto start = Clock::now();
    while (!done()) {
        if (secondsSince(start) > 10)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

TEST(CurlFetcher, fetchesADocumentAndNamesItselfHonestly) {
    LoopbackServer server;
    server.setRoute("/feed.xml", answer("<rss version=\"2.0\"/>"));
    CurlFetcher fetcher;

    const FetchResult result = fetcher.fetch(server.url("/feed.xml"));

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.body, "<rss version=\"2.0\"/>");
    EXPECT_EQ(result.httpStatus, 200);
    EXPECT_TRUE(result.error.isEmpty());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].header("User-Agent"), CurlFetcher::userAgent());
    EXPECT_TRUE(CurlFetcher::userAgent().startsWith("QuorvelRSSReader/" QUORVEL_VERSION_TEXT " "));
    EXPECT_TRUE(requests[0].header("Accept-Encoding").contains("gzip"));
}

TEST(CurlFetcher, followsFiveRedirectsAcrossHostsButNotASixth) {
    LoopbackServer first("127.0.0.1");
    LoopbackServer second("127.0.0.2");
    // /r0 -> /r1 -> ... -> /r4 -> the second server's /r5 -> /end
    for (int i = 0; i < 4; ++i)
        first.setRoute(QString("/r%1").arg(i), redirectTo(QString("/r%1").arg(i + 1).toUtf8()));
    first.setRoute("/r4", redirectTo(second.url("/r5").toUtf8()));
    second.setRoute("/r5", redirectTo("/end"));
    second.setRoute("/end", answer("arrived"));
    CurlFetcher fetcher;

    const FetchResult fiveHops = fetcher.fetch(first.url("/r1"));
    ASSERT_TRUE(fiveHops.ok) << fiveHops.error.toStdString();
    EXPECT_EQ(fiveHops.body, "arrived");

    const FetchResult sixHops = fetcher.fetch(first.url("/r0"));
    EXPECT_FALSE(sixHops.ok);
    EXPECT_TRUE(sixHops.body.isEmpty());
    EXPECT_TRUE(sixHops.error.contains(first.url("/r0"))) << sixHops.error.toStdString();
}

TEST(CurlFetcher, refusesRedirectsToOtherSchemes) {
    QTemporaryDir dir;
    const QString secret = dir.filePath("secret.txt");
    writeFile(secret, "local content");
    LoopbackServer server;
    server.setRoute("/to-file", redirectTo(QUrl::fromLocalFile(secret).toEncoded()));
    server.setRoute("/elsewhere", redirectTo("ftp://127.0.0.1/feed.xml"));
    CurlFetcher fetcher;

    const FetchResult toFile = fetcher.fetch(server.url("/to-file"));
    const FetchResult toFtp = fetcher.fetch(server.url("/elsewhere"));

    EXPECT_FALSE(toFile.ok);
    EXPECT_FALSE(toFile.body.contains("local content"));
    // Refused before connecting: a followed redirect would fail on the closed port 21
    // without naming the protocol.
    EXPECT_FALSE(toFtp.ok);
    EXPECT_TRUE(toFtp.error.contains("\"ftp\"")) << toFtp.error.toStdString();
}

TEST(CurlFetcher, treatsErrorStatusesAsFailures) {
    LoopbackServer server;
    Response broken = answer("<html>oops</html>");
    broken.status = 500;
    server.setRoute("/broken", broken);
    CurlFetcher fetcher;

    const FetchResult missing = fetcher.fetch(server.url("/missing"));
    const FetchResult failing = fetcher.fetch(server.url("/broken"));

    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.httpStatus, 404);
    EXPECT_TRUE(missing.error.startsWith("HTTP 404")) << missing.error.toStdString();
    EXPECT_FALSE(failing.ok);
    EXPECT_EQ(failing.httpStatus, 500);
    EXPECT_TRUE(failing.error.startsWith("HTTP 500")) << failing.error.toStdString();
    EXPECT_TRUE(failing.body.isEmpty());
}

TEST(CurlFetcher, decodesGzipBodies) {
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "<item><title>Item " + QByteArray::number(i) + "</title></item>\n";
    Response compressed = answer(text);
    compressed.gzip = true;
    LoopbackServer server;
    server.setRoute("/feed.xml", compressed);
    CurlFetcher fetcher;

    const FetchResult result = fetcher.fetch(server.url("/feed.xml"));

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.body, text);
}

TEST(CurlFetcher, capsTheDecodedBodyFromNetworkAndDisk) {
    FetchLimits limits;
    limits.maxBodyBytes = 1024;
    QTemporaryDir dir;
    writeFile(dir.filePath("exact.xml"), QByteArray(1024, 'x'));
    writeFile(dir.filePath("over.xml"), QByteArray(1025, 'x'));
    LoopbackServer server;
    server.setRoute("/exact", answer(QByteArray(1024, 'x')));
    server.setRoute("/over", answer(QByteArray(1025, 'x')));
    Response bomb = answer(QByteArray(64 * 1024, 'a')); // tiny on the wire, large decoded
    bomb.gzip = true;
    server.setRoute("/bomb", bomb);
    CurlFetcher fetcher(limits);

    auto batch = fetcher.start({server.url("/exact"), server.url("/over"), server.url("/bomb"),
                                dir.filePath("exact.xml"), dir.filePath("over.xml")});

    const FetchResult exact = batch->take(0);
    EXPECT_TRUE(exact.ok) << exact.error.toStdString();
    EXPECT_EQ(exact.body.size(), 1024);
    for (std::size_t i : {1, 2, 4}) {
        const FetchResult over = batch->take(i);
        EXPECT_FALSE(over.ok) << i;
        EXPECT_EQ(over.error, "response larger than 1 KiB") << i;
        EXPECT_TRUE(over.body.isEmpty()) << i;
    }
    EXPECT_TRUE(batch->take(3).ok);
}

TEST(CurlFetcher, givesUpAtTheTimeLimitsNotWhenTheServerFinishes) {
    FetchLimits limits;
    limits.totalTimeoutMs = 500;
    LoopbackServer server;
    server.setRoute("/late", answer("late", 3000));
    CurlFetcher fetcher(limits);

    auto start = Clock::now();
    const FetchResult late = fetcher.fetch(server.url("/late"));
    EXPECT_FALSE(late.ok);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_TRUE(late.error.contains(server.url("/late"))) << late.error.toStdString();

    FetchLimits slowLimits;
    slowLimits.lowSpeedBytesPerSec = 1000;
    slowLimits.lowSpeedSeconds = 1;
    Response drip = answer(QByteArray(4000, 'd')); // 200 s at this pace
    drip.dripBytesPerSecond = 20;
    server.setRoute("/drip", drip);
    CurlFetcher slowFetcher(slowLimits);

    start = Clock::now();
    const FetchResult dripped = slowFetcher.fetch(server.url("/drip"));
    EXPECT_FALSE(dripped.ok);
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST(CurlFetcher, reportsARefusedConnectionWithItsAddress) {
    QString url;
    {
        LoopbackServer gone;
        url = gone.url("/feed.xml");
    }
    CurlFetcher fetcher;

    const FetchResult result = fetcher.fetch(url);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.httpStatus, 0);
    EXPECT_TRUE(result.error.contains(url)) << result.error.toStdString();
}

// Starts count requests spread round-robin over the servers, each answered after delayMs.
std::vector<FetchResult> fetchSpread(CurlFetcher& fetcher,
                                     std::vector<std::unique_ptr<LoopbackServer>>& servers,
                                     int count, int delayMs) {
    QStringList urls;
    for (int i = 0; i < count; ++i) {
        LoopbackServer& server = *servers[std::size_t(i) % servers.size()];
        const QString path = QString("/feed%1").arg(i);
        server.setRoute(path, answer(path.toUtf8(), delayMs));
        urls << server.url(path);
    }
    auto batch = fetcher.start(urls);
    std::vector<FetchResult> results;
    for (int i = 0; i < count; ++i)
        results.push_back(batch->take(std::size_t(i)));
    return results;
}

std::vector<std::unique_ptr<LoopbackServer>> serversOn(int addresses,
                                                       const ConcurrencyMeter& shared) {
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (int i = 1; i <= addresses; ++i) {
        servers.push_back(std::make_unique<LoopbackServer>(QString("127.0.0.%1").arg(i)));
        servers.back()->setMeter(shared);
    }
    return servers;
}

TEST(CurlFetcher, keepsWithinTheConcurrencyLimitsOverall) {
    ConcurrencyMeter shared;
    auto servers = serversOn(3, shared);
    FetchLimits limits;
    limits.maxConcurrent = 8;
    limits.maxPerHost = 3;
    CurlFetcher fetcher(limits);

    const auto results = fetchSpread(fetcher, servers, 40, 150);

    for (const FetchResult& result : results)
        EXPECT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_LE(shared.maximum(), 8);
    EXPECT_GE(shared.maximum(), 4);
    int total = 0;
    for (const auto& server : servers) {
        EXPECT_LE(server->meter().maximum(), 3) << server->address().toStdString();
        total += server->totalRequests();
    }
    EXPECT_EQ(total, 40);
}

TEST(CurlFetcher, runsManyTransfersAtOnceWithTheDefaults) {
    ConcurrencyMeter shared;
    auto servers = serversOn(10, shared);
    CurlFetcher fetcher;

    const auto results = fetchSpread(fetcher, servers, 64, 200);

    for (std::size_t i = 0; i < results.size(); ++i) {
        ASSERT_TRUE(results[i].ok) << results[i].error.toStdString();
        EXPECT_EQ(results[i].body, QString("/feed%1").arg(i).toUtf8());
    }
    EXPECT_GT(shared.maximum(), 6);
    EXPECT_LE(shared.maximum(), 32);
    for (const auto& server : servers)
        EXPECT_LE(server->meter().maximum(), 6) << server->address().toStdString();
}

TEST(CurlFetcher, handsOutResultsByRequestIndexWhateverOrderTheyFinish) {
    LoopbackServer server;
    QStringList urls;
    for (int i = 0; i < 12; ++i) {
        const QString path = QString("/item%1").arg(i);
        server.setRoute(path, answer(path.toUtf8(), (12 - i) * 15)); // later ones answer sooner
        urls << server.url(path);
    }
    CurlFetcher fetcher;

    auto batch = fetcher.start(urls);

    ASSERT_EQ(batch->size(), 12u);
    for (std::size_t i = 12; i-- > 0;)
        EXPECT_EQ(batch->take(i).body, QString("/item%1").arg(i).toUtf8());
    EXPECT_FALSE(batch->take(3).ok); // handed out once only
}

TEST(CurlFetcher, readsLocalPathsAndFileUrlsFromDisk) {
    QTemporaryDir dir;
    const QString plain = dir.filePath("feed.xml");
    const QString unusual = dir.filePath("my feed \u00e9.xml");
    writeFile(plain, "<rss>plain</rss>");
    writeFile(unusual, "<rss>unusual</rss>");
    CurlFetcher fetcher;

    const FetchResult byPath = fetcher.fetch(plain);
    const FetchResult byUrl =
        fetcher.fetch(QUrl::fromLocalFile(unusual).toString(QUrl::FullyEncoded));
    const FetchResult byShortUrl = fetcher.fetch("  file:" + plain + "\n");
    const QString missingPath = dir.filePath("missing.xml");
    const FetchResult missing = fetcher.fetch(missingPath);
    const FetchResult directory = fetcher.fetch(dir.path());

    ASSERT_TRUE(byPath.ok) << byPath.error.toStdString();
    EXPECT_EQ(byPath.body, "<rss>plain</rss>");
    EXPECT_EQ(byPath.httpStatus, 0);
    ASSERT_TRUE(byUrl.ok) << byUrl.error.toStdString();
    EXPECT_EQ(byUrl.body, "<rss>unusual</rss>");
    EXPECT_EQ(byShortUrl.body, "<rss>plain</rss>") << byShortUrl.error.toStdString();
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.error.startsWith("cannot read " + missingPath + ": "))
        << missing.error.toStdString();
    EXPECT_FALSE(directory.ok);
}

TEST(CurlFetcher, refusesAddressesThatAreNeitherWebNorDisk) {
    LoopbackServer server;
    CurlFetcher fetcher;

    auto batch =
        fetcher.start({"ftp://127.0.0.1/feed.xml", "gopher://127.0.0.1/1", "javascript:alert(1)",
                       "mailto:someone@example.org", " " + server.url("/missing")});

    for (std::size_t i = 0; i < 4; ++i) {
        const FetchResult result = batch->take(i);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.error.startsWith("unsupported address")) << result.error.toStdString();
    }
    // The network part of the batch still ran, white space around the address ignored.
    EXPECT_EQ(batch->take(4).httpStatus, 404);
}

TEST(CurlFetcher, cancelFromAnotherThreadEndsWaitingTakesPromptly) {
    LoopbackServer server;
    server.setRoute("/quick", answer("quick"));
    server.setRoute("/slow", answer("slow", 10000));
    CurlFetcher fetcher;
    auto batch = fetcher.start({server.url("/quick"), server.url("/slow"), server.url("/slow")});
    ASSERT_TRUE(batch->take(0).ok);

    const auto start = Clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fetcher.cancel();
    });
    const FetchResult slow = batch->take(1);
    canceller.join();

    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_FALSE(slow.ok);
    EXPECT_EQ(slow.error, "cancelled");
    EXPECT_EQ(batch->take(2).error, "cancelled");
    // Only batches that existed when cancel() was called are affected.
    EXPECT_TRUE(fetcher.fetch(server.url("/quick")).ok);
}

TEST(CurlFetcher, destroyingABatchMidTransferDoesNotWait) {
    LoopbackServer server;
    server.setRoute("/slow", answer("slow", 10000));
    CurlFetcher fetcher;
    auto batch = fetcher.start({server.url("/slow"), server.url("/slow")});
    ASSERT_TRUE(eventually([&] { return server.totalRequests() == 2; }));

    const auto start = Clock::now();
    batch.reset();

    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_EQ(fetcher.start({})->size(), 0u);
}

} // namespace
} // namespace quorvel
