#include <gtest/gtest.h>

#include <chrono>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <zlib.h>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "recordingport.h"
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

// A well-formed feed of at least `bytes` bytes.
QByteArray hugeFeed(qsizetype bytes) {
    QByteArray xml = "<rss><channel><title>Huge</title>";
    xml.reserve(bytes + 256);
    for (int i = 0; xml.size() < bytes; ++i)
        xml += "<item><title>Huge item " + QByteArray::number(i) +
               "</title><link>http://example.com/</link><description>filler filler filler "
               "filler filler filler</description></item>";
    return xml + "</channel></rss>";
}

QByteArray billionLaughs() {
    QByteArray dtd = "<!DOCTYPE rss [<!ENTITY l0 \"lol\">";
    for (int level = 1; level <= 10; ++level)
        dtd += "<!ENTITY l" + QByteArray::number(level) + " \"" +
               ("&l" + QByteArray::number(level - 1) + ";").repeated(10) + "\">";
    return dtd + "]><rss><channel><title>Laughs feed &l10;</title><item><title>&l10;</title>"
                 "<description>&l10;</description></item></channel></rss>";
}

QByteArray quadraticBlowUp() {
    return "<!DOCTYPE rss [<!ENTITY big \"" + QByteArray(100 * 1024, 'A') +
           "\">]><rss><channel><title>Quadratic feed</title><item><title>&big;</title>"
           "<description>" +
           QByteArray("&big;").repeated(50000) + "</description></item></channel></rss>";
}

QByteArray scriptedFeed() {
    return R"xml(<rss><channel>
<title>&lt;script&gt;alert(1)&lt;/script&gt;Scripted feed' onmouseover='alert(22)</title>
<link>javascript:alert(2)</link>
<image><url>javascript:alert(3)</url><link>JavaScript:alert(4)</link></image>
<item><title>&lt;img src=x onerror=alert(5)&gt;Escaped item</title><link> javascript:alert(6)</link>
<description>&lt;p onclick="alert(7)"&gt;escaped&lt;/p&gt;&lt;script&gt;alert(8)&lt;/script&gt;
&lt;a href="javascript:alert(9)"&gt;a&lt;/a&gt;&lt;a href="jav&amp;#x09;ascript:alert(10)"&gt;b&lt;/a&gt;
&lt;meta http-equiv="refresh" content="0;url=javascript:alert(11)"&gt;
&lt;iframe src="http://evil.example/"&gt;&lt;/iframe&gt;&lt;style&gt;body{display:none}&lt;/style&gt;
&lt;object data="x.swf"&gt;&lt;/object&gt;&lt;embed src="x.swf"&gt;
&lt;form action="http://evil.example/"&gt;&lt;input name="q"&gt;&lt;/form&gt;</description></item>
<item><title><![CDATA[<b onmouseover="alert(12)">CDATA item</b><script>alert(13)</script>]]></title>
<link>http://example.com/cdata' onclick='alert(23)</link>
<description><![CDATA[<div onload="alert(14)" ONCLICK='alert(15)'>plain text</div>
<img src="javascript:alert(16)" srcset="javascript:alert(17) 1x"><svg onload=alert(18)></svg>
<a href="&#106;avascript:alert(19)">c</a><SCRIPT src="http://evil.example/x.js"></SCRIPT>
<meta http-equiv="refresh" content="0"><iframe srcdoc="<script>alert(20)</script>"></iframe>
<style>*{}</style><object data="x"></object><embed src="x"><form><button>go</button></form>
<body onload="alert(21)">]]></description></item>
</channel></rss>)xml";
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(HostileFeeds, OneRefreshSurvivesEveryBadFeedAndPagesOnlyTheSafeParts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secretPath = dir.filePath("secret.txt");
    ASSERT_TRUE(writeFile(secretPath, kSecret + "\n"));
    FeedStore store(dir.path());
    LoopbackServer server;
    server.setRoute("/probe", served("ok"));
    server.setRoute("/alpha", served(rssFeed("Alpha", 2)));
    server.setRoute("/omega", served(rssFeed("Omega", 2)));
    server.setRoute("/xxe",
                    served("<!DOCTYPE rss [<!ENTITY xxe SYSTEM \"file://" + secretPath.toUtf8() +
                           "\">]><rss><channel><title>XXE feed &xxe;</title><item>"
                           "<title>Leak &xxe;</title><description>&xxe;</description>"
                           "</item></channel></rss>"));
    server.setRoute("/laughs", served(billionLaughs()));
    server.setRoute("/quadratic", served(quadraticBlowUp()));
    server.setRoute("/bomb", {.body = gzipBomb(dir.filePath("bomb.gz"), 1024),
                              .headers = {{"Content-Encoding", "gzip"}}});
    const QByteArray item = "<item><title>Endless</title><description>more</description></item>\n";
    server.setRoute("/endless", {.body = item.repeated(100), .endless = true});
    server.setRoute("/drip", {.body = rssFeed("Drip", 1), .dripBytesPerSecond = 1});
    server.setRoute("/loop", {.status = 302, .headers = {{"Location", "/loop"}}});
    server.setRoute("/passwd", {.status = 302, .headers = {{"Location", "file:///etc/passwd"}}});
    server.setRoute("/huge", served(hugeFeed(30 * 1000 * 1000)));
    server.setRoute("/script", served(scriptedFeed()));

    const QStringList mustFail = {"/bomb", "/endless", "/drip", "/loop", "/passwd", "/huge"};
    // Either refused as a whole or shown without what the entities stand for.
    const QList<QPair<QString, QString>> mayFail = {
        {"/xxe", "XXE feed"}, {"/laughs", "Laughs feed"}, {"/quadratic", "Quadratic feed"}};
    QString entries;
    for (const QString& path : QStringList{"/alpha", "/xxe", "/laughs", "/quadratic"} + mustFail +
                                   QStringList{"/script", "/omega"})
        entries += QStringLiteral("<feed url='%1' num='10' headers='false' disabled='false'/>")
                       .arg(server.url(path));
    ASSERT_TRUE(writeFile(store.storePath(), (kStoreRoot + entries + "</root>").toUtf8()));
    CurlFetcher fetcher;
    RecordingPort port;
    port.answers.push_back(MessageAnswer::Cancel);

    // Starts the peak anew where the kernel allows it, so building the inputs does not count.
    QFile clearRefs("/proc/self/clear_refs");
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
    clearRefs.close();
    const long rssBefore = peakRssKb();
    const auto started = std::chrono::steady_clock::now();
    RefreshCycle cycle(store, fetcher, port, server.url("/probe"));
    EXPECT_EQ(cycle.refreshFeeds(), CycleEnd::PageWritten);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long growthMb = (peakRssKb() - rssBefore) / 1024;
    EXPECT_LT(seconds, 45.0);
    EXPECT_LT(growthMb, QUORVEL_GROWTH_LIMIT_MB);

    const QString page = QString::fromUtf8(readFile(store.pagePath()));
    const QString log = QString::fromUtf8(readFile(store.errorLogPath()));
    // The program's own style block comes first; everything after it came from the feeds.
    const qsizetype styleEnd = page.indexOf("</style>");
    ASSERT_GE(styleEnd, 0);
    const QString feedPart = page.mid(styleEnd + 8);
    EXPECT_LT(feedPart.size(), 200 * 1000) << "no entity or body was expanded into the page";

    for (const char* text : {"Alpha item 1", "Alpha item 2", "Omega item 1", "Omega item 2",
                             "Scripted feed", "Escaped item", "CDATA item", "plain text"})
        EXPECT_TRUE(feedPart.contains(text)) << text;
    EXPECT_LT(feedPart.indexOf("Alpha item 1"), feedPart.indexOf("Omega item 1"));
    for (const QString& path : mustFail)
        EXPECT_TRUE(log.contains(" " + server.url(path) + "\r\n")) << path.toStdString();
    for (const auto& [path, heading] : mayFail)
        EXPECT_NE(log.contains(" " + server.url(path) + "\r\n"), feedPart.contains(heading))
            << path.toStdString() << ": logged or shown, exactly one of them";
    EXPECT_FALSE(log.contains(server.url("/alpha")) || log.contains(server.url("/omega")) ||
                 log.contains(server.url("/script")))
        << log.toStdString();

    for (const char* banned : {"<script", "<iframe", "<meta", "<style", "<object", "<embed",
                               "<form", "<input", "<button", "<svg", "<body", "javascript:"})
        EXPECT_FALSE(feedPart.contains(banned, Qt::CaseInsensitive))
            << banned << " in " << feedPart.toStdString();
    QStringList attributes;
    for (const auto& [name, value] : tagAttributes(feedPart))
        attributes << name;
    EXPECT_TRUE(attributes.filter(QRegularExpression("^on")).isEmpty())
        << attributes.join(' ').toStdString();
    EXPECT_TRUE(attributes.contains("href")) << "the scanner does see attributes";
    for (const QString& text : {page, log}) {
        EXPECT_FALSE(text.contains(kSecret));
        EXPECT_FALSE(text.contains("root:x:0:0"));
        EXPECT_FALSE(text.contains("lollollol"));
    }

    ASSERT_EQ(port.prompts.size(), 1u) << "one offer to show the log";
    EXPECT_EQ(port.prompts[0].buttons, MessageButtons::OkCancel);
    EXPECT_TRUE(port.callsOf("open").isEmpty());
}

} // namespace
} // namespace quorvel
