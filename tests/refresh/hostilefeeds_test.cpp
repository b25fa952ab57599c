#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

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

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_UNDER_ASAN 1
#endif
#endif

namespace quorvel {
namespace {

using test::LoopbackServer;
using test::readFile;
using test::RecordingPort;
using test::Response;
using test::served;
using test::writeFile;

const char* kStoreRoot =
    "<root heading='font-weight:bold;' body='font-size:11;' link='color:#0000FF;'"
    " hover='color:#FF0000;' visited='color:#FF0000;' bDate='font-style:italic'"
    " magnetic='false' refresh='60000' min='false' trans='255' quorvelVersion='1_6_0_0'>";
const QByteArray kSecret = "QUORVEL-SECRET-5f81c2e07a";

// A gzip stream whose decoded form is a feed's head followed by `mebibytes` MiB of spaces.
// A full flush resets the compressor, so every MiB deflated after one comes out the same:
// it is deflated once and repeated, and the trailer gets the whole's CRC and length.
QByteArray gzipBomb(int mebibytes) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 31, 9, Z_RLE);
    auto deflated = [&stream](const QByteArray& in, int flush) {
        QByteArray out;
        char buffer[65536];
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        stream.avail_in = uInt(in.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
        return out;
    };
    const QByteArray head = "<rss><channel><title>Bomb</title>";
    const QByteArray blanks(1 << 20, ' ');
    QByteArray out =
        deflated(head, Z_FULL_FLUSH) + deflated(blanks, Z_FULL_FLUSH).repeated(mebibytes);
    out += deflated(QByteArray(), Z_FINISH).chopped(8); // deflate's trailer covers what it saw
    deflateEnd(&stream);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(head.constData()), uInt(head.size()));
    const uLong blanksCrc =
        crc32(0, reinterpret_cast<const Bytef*>(blanks.constData()), uInt(blanks.size()));
    for (int i = 0; i < mebibytes; ++i)
        crc = crc32_combine(crc, blanksCrc, blanks.size());
    const quint32 size = quint32(head.size() + (qint64(mebibytes) << 20));
    for (const quint32 word : {quint32(crc), size})
        for (int shift = 0; shift < 32; shift += 8)
            out += char(word >> shift);
    return out;
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

// The attribute names (lower case) of every tag in html, quoted values skipped.
QStringList attributeNames(const QString& html) {
    QStringList names;
    const qsizetype n = html.size();
    for (qsizetype i = html.indexOf(u'<'); i >= 0 && i < n; i = html.indexOf(u'<', i)) {
        ++i;
        if (i >= n || !html[i].isLetter())
            continue;
        while (i < n && !html[i].isSpace() && html[i] != u'>' && html[i] != u'/')
            ++i;
        while (i < n && html[i] != u'>') {
            if (html[i].isSpace() || html[i] == u'/') {
                ++i;
                continue;
            }
            const qsizetype start = i;
            while (i < n && !html[i].isSpace() && html[i] != u'=' && html[i] != u'>')
                ++i;
            names << html.mid(start, i - start).toLower();
            if (i < n && html[i] == u'=') {
                ++i;
                if (i < n && (html[i] == u'\'' || html[i] == u'"')) {
                    const qsizetype close = html.indexOf(html[i], i + 1);
                    i = close < 0 ? n : close + 1;
                } else {
                    while (i < n && !html[i].isSpace() && html[i] != u'>')
                        ++i;
                }
            }
        }
    }
    return names;
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
    server.setRoute("/alpha", served(test::rssFeed("Alpha", 2)));
    server.setRoute("/omega", served(test::rssFeed("Omega", 2)));
    server.setRoute("/xxe",
                    served("<!DOCTYPE rss [<!ENTITY xxe SYSTEM \"file://" + secretPath.toUtf8() +
                           "\">]><rss><channel><title>XXE feed &xxe;</title><item>"
                           "<title>Leak &xxe;</title><description>&xxe;</description>"
                           "</item></channel></rss>"));
    server.setRoute("/laughs", served(billionLaughs()));
    server.setRoute("/quadratic", served(quadraticBlowUp()));
    Response bomb = served(gzipBomb(1024));
    bomb.headers = {{"Content-Encoding", "gzip"}};
    server.setRoute("/bomb", bomb);
    Response endless =
        served(QByteArray("<item><title>Endless</title><description>more</description></item>\n")
                   .repeated(100));
    endless.endless = true;
    server.setRoute("/endless", endless);
    Response drip = served(test::rssFeed("Drip", 1));
    drip.dripBytesPerSecond = 1;
    server.setRoute("/drip", drip);
    Response loop;
    loop.status = 302;
    loop.headers = {{"Location", "/loop"}};
    server.setRoute("/loop", loop);
    Response passwd = loop;
    passwd.headers = {{"Location", "file:///etc/passwd"}};
    server.setRoute("/passwd", passwd);
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
    std::printf("[ hostile  ] cycle %.1f s, peak RSS growth %ld MB\n", seconds, growthMb);
    EXPECT_LT(seconds, 45.0);
#ifdef QUORVEL_UNDER_ASAN
    EXPECT_LT(growthMb, 600);
#else
    EXPECT_LT(growthMb, 300);
#endif

    const QByteArray pageBytes = readFile(store.pagePath());
    const QString log = QString::fromUtf8(readFile(store.errorLogPath()));
    const QString page = QString::fromUtf8(pageBytes);
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
    const QStringList attributes = attributeNames(feedPart);
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
