#include <gtest/gtest.h>

#include <chrono>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "recordingport.h"
#include "refresh/badfeedlog.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"
#include "testfiles.h"

// AddressSanitizer's shadow memory and quarantine need room of their own.
#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_GROWTH_LIMIT_MB 600
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_GROWTH_LIMIT_MB 600
#endif
#endif
#ifndef QUORVEL_GROWTH_LIMIT_MB
#define QUORVEL_GROWTH_LIMIT_MB 300
#endif

namespace quorvel {
namespace {

using namespace test;

const char* kStoreRoot =
    "<root heading='font-weight:bold;' body='font-size:11;' link='color:#0000FF;'"
    " hover='color:#FF0000;' visited='color:#FF0000;' bDate='font-style:italic'"
    " magnetic='false' refresh='60000' min='false' trans='255' quorvelVersion='1_6_0_0'>";
const QByteArray kSecret = "QUORVEL-SECRET-5f81c2e07a";

// A gzip file whose decoded form is a feed's head followed by `mebibytes` MiB of spaces.
QByteArray gzipBomb(const QString& path, int mebibytes) {
    gzFile gz = gzopen(path.toLocal8Bit().constData(), "wb9R");
    gzputs(gz, "<rss><channel><title>Bomb</title>");
    const QByteArray blanks(1 << 20, ' ');
    for (int i = 0; i < mebibytes; ++i)
        gzwrite(gz, blanks.constData(), unsigned(blanks.size()));
    gzclose(gz);
    return readFile(path);
}

// One of each way markup in a feed could act on the page; the cleaning's own cases and the
// collection's sanitiser documents hold the many variants.
QByteArray scriptedFeed() {
    return R"xml(<rss><channel>
<title>&lt;script&gt;alert(1)&lt;/script&gt;Scripted feed' onmouseover='alert(2)</title>
<image><url>javascript:alert(3)</url><link>JavaScript:alert(4)</link></image>
<item><title><![CDATA[<b onmouseover="alert(5)">CDATA item</b><script>alert(6)</script>]]></title>
<link>http://example.com/cdata' onclick='alert(7)</link>
<description><![CDATA[<div ONCLICK='alert(8)'>plain text</div><a href="&#106;avascript:alert(9)">c</a>
<iframe srcdoc="<script>alert(10)</script>"></iframe><form><input name="q"></form>]]></description>
</item></channel></rss>)xml";
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A store listing the given feeds, refreshed once against a loopback server.
class BadFeeds : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setRoute("/probe", served("ok"));
        server.setRoute("/alpha", served(rssFeed("Alpha", 2)));
    }

    // Writes the store and runs one cycle; the seconds it took.
    double refresh(const QStringList& urls, Fetcher& fetcher) {
        QString entries;
        for (const QString& url : urls)
            entries += QStringLiteral("<feed url='%1' num='10' headers='false' disabled='false'/>")
                           .arg(url.toHtmlEscaped());
        EXPECT_TRUE(writeFile(store.storePath(), (kStoreRoot + entries + "</root>").toUtf8()));
        const auto start = std::chrono::steady_clock::now();
        RefreshCycle cycle(store, fetcher, port, server.url("/probe"));
        EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
        page = QString::fromUtf8(readFile(store.pagePath()));
        logLines = QString::fromUtf8(readFile(store.errorLogPath())).split("\r\n");
        EXPECT_EQ(logLines.takeLast(), "") << "every line ends with CR LF";
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    // How many lines of the log record url.
    qsizetype logged(const QString& url) const {
        return logLines.filter(QRegularExpression(" " + QRegularExpression::escape(url) + "$"))
            .size();
    }

    QTemporaryDir dir;
    FeedStore store{dir.path()};
    LoopbackServer server;
    RecordingPort port;
    QString page;
    QStringList logLines;
};

TEST_F(BadFeeds, OneRefreshSurvivesEveryBadFeedAndPagesOnlyTheSafeParts) {
    // A feed on the disk must never be read, however its address is written.
    const QString secretPath = dir.filePath("secret.xml");
    ASSERT_TRUE(writeFile(secretPath, rssFeed(kSecret, 1)));
    const QString fifo = dir.filePath("feed.fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // The fetcher's own case holds the other ways of not being a web address.
    const QStringList refused{"/dev/ptmx", fifo, secretPath,
                              QUrl::fromLocalFile(secretPath).toString()};
    server.setRoute("/omega", served(rssFeed("Omega", 2)));
    server.setRoute("/bomb", {.body = gzipBomb(dir.filePath("bomb.gz"), 1024),
                              .headers = {{"Content-Encoding", "gzip"}}});
    const QByteArray item = "<item><title>Endless</title><description>more</description></item>\n";
    server.setRoute("/endless", {.body = item.repeated(100), .endless = true});
    server.setRoute("/drip", {.body = rssFeed("Drip", 1), .dripBytesPerSecond = 1});
    server.setRoute("/script", served(scriptedFeed()));

    QStringList mustFail = refused;
    for (const char* path : {"/bomb", "/endless", "/drip"})
        mustFail << server.url(path);
    QStringList urls{server.url("/alpha")};
    urls << mustFail << server.url("/script") << server.url("/omega");
    CurlFetcher fetcher;
    port.answers.push_back(MessageAnswer::Cancel);

    // Starts the peak anew where the kernel allows it, so building the inputs does not count.
    QFile clearRefs("/proc/self/clear_refs");
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    const long rssBefore = peakRssKb();
    EXPECT_LT(refresh(urls, fetcher), 45.0);
    EXPECT_LT((peakRssKb() - rssBefore) / 1024, QUORVEL_GROWTH_LIMIT_MB);

    // The program's own style block comes first; everything after it came from the feeds.
    const qsizetype styleEnd = page.indexOf("</style>");
    ASSERT_GE(styleEnd, 0);
    const QString feedPart = page.mid(styleEnd + 8);
    EXPECT_LT(feedPart.size(), 200 * 1000) << "no body was expanded into the page";

    for (const char* text : {"Alpha item 1", "Alpha item 2", "Omega item 1", "Omega item 2",
                             "Scripted feed", "CDATA item", "plain text"})
        EXPECT_TRUE(feedPart.contains(text)) << text;
    EXPECT_EQ(logLines.value(0), kErrorLogHeading);
    for (const QString& url : mustFail)
        EXPECT_EQ(logged(url), 1) << url.toStdString();
    EXPECT_EQ(logLines.size(), 1 + mustFail.size()) << "no other feed logged";
    EXPECT_EQ(port.callsOf("title").filter(QStringLiteral(" %1 of %1").arg(urls.size())).size(), 1)
        << "every entry counted";

    for (const char* banned : {"<script", "<iframe", "<form", "<input", "javascript:"})
        EXPECT_FALSE(feedPart.contains(banned, Qt::CaseInsensitive))
            << banned << " in " << feedPart.toStdString();
    QStringList attributes;
    for (const auto& [name, value] : tagAttributes(feedPart))
        attributes << name;
    EXPECT_TRUE(attributes.filter(QRegularExpression("^on")).isEmpty())
        << attributes.join(' ').toStdString();
    EXPECT_TRUE(attributes.contains("href")) << "the scanner does see attributes";
    for (const QString& text : {page, logLines.join('\n')}) {
        EXPECT_FALSE(text.contains(kSecret));
    }
}

} // namespace
} // namespace quorvel
