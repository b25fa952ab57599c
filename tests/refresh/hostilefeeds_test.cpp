#include <gtest/gtest.h>

#include <chrono>

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include "cyclefixture.h"
#include "refresh/refreshcycle.h"

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

using BadFeeds = CycleFixture;

TEST_F(BadFeeds, OneRefreshSurvivesEveryBadFeedAndPagesOnlyTheSafeParts) {
    // A feed on the disk must never be read, however its address is written.
    const QString secretPath = dir.filePath("secret.xml");
    ASSERT_TRUE(writeFile(secretPath, rssFeed(kSecret, 1)));
    const QString fifo = dir.filePath("feed.fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // The fetcher's own case holds the other ways of not being a web address.
    QStringList mustFail{"/dev/ptmx", fifo, secretPath, QUrl::fromLocalFile(secretPath).toString()};
    server.setRoute("/alpha", served(rssFeed("Alpha", 2)));
    server.setRoute("/omega", served(rssFeed("Omega", 2)));
    server.setRoute("/bomb", {.body = gzipBomb(dir.filePath("bomb.gz"), 1024),
                              .headers = {{"Content-Encoding", "gzip"}}});
    const QByteArray item = "<item><title>Endless</title><description>more</description></item>\n";
    server.setRoute("/endless", {.body = item.repeated(100), .endless = true});
    server.setRoute("/drip", {.body = rssFeed("Drip", 1), .dripBytesPerSecond = 1});
    server.setRoute("/script", served(scriptedFeed()));
    for (const char* path : {"/bomb", "/endless", "/drip"})
        mustFail << server.url(path);
    QString entries;
    for (const QString& url : QStringList{server.url("/alpha")} + mustFail +
                                  QStringList{server.url("/script"), server.url("/omega")})
        entries += QStringLiteral("<feed url='%1' num='10' headers='false' disabled='false'/>")
                       .arg(url.toHtmlEscaped());
    writeStore(entries);
    port.answers.push_back(MessageAnswer::Cancel);

    // Starts the peak anew where the kernel allows it, so building the inputs does not count.
    QFile clearRefs("/proc/self/clear_refs");
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    const long rssBefore = peakRssKb();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RefreshCycle(store, fetcher, port, onlineProbe()).refreshFeeds(),
              CycleEnd::PageWritten);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              45.0);
    EXPECT_LT((peakRssKb() - rssBefore) / 1024, QUORVEL_GROWTH_LIMIT_MB);
    const QString page = this->page();
    const QStringList logLines = this->logLines();

    // The program's own style block comes first; everything after it came from the feeds.
    const qsizetype styleEnd = page.indexOf("</style>");
    ASSERT_GE(styleEnd, 0);
    const QString feedPart = page.mid(styleEnd + 8);
    EXPECT_LT(feedPart.size(), 200 * 1000) << "no body was expanded into the page";

    for (const char* text : {"Alpha item 1", "Alpha item 2", "Omega item 1", "Omega item 2",
                             "Scripted feed", "CDATA item", "plain text"})
        EXPECT_TRUE(feedPart.contains(text)) << text;
    for (const QString& url : mustFail)
        EXPECT_EQ(logLines.filter(QRegularExpression(" " + QRegularExpression::escape(url) + "$"))
                      .size(),
                  1)
            << url.toStdString();
    EXPECT_EQ(logLines.size(), 1 + mustFail.size()) << "no other feed logged";

    for (const char* banned : {"<script", "<iframe", "<form", "<input", "javascript:"})
        EXPECT_FALSE(feedPart.contains(banned, Qt::CaseInsensitive))
            << banned << " in " << feedPart.toStdString();
    QStringList attributes;
    for (const auto& [name, value] : tagAttributes(feedPart))
        attributes << name;
    EXPECT_TRUE(attributes.filter(QRegularExpression("^on")).isEmpty())
        << attributes.join(' ').toStdString();
    EXPECT_TRUE(attributes.contains("href")) << "the scanner does see attributes";
    for (const QString& text : {page, logLines.join('\n')})
        EXPECT_FALSE(text.contains(kSecret));
}

} // namespace
} // namespace quorvel
