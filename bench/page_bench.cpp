// Page building without network: the markup of 200 parsed feeds of 50 items each, the style
// block and the page skeleton; reading those feeds as RSS, Atom and JSON Feed.

#include <vector>

#include <benchmark/benchmark.h>

#include "feed/feedparser.h"
#include "platform/xmldocument.h"
#include "refresh/pagemarkup.h"
#include "refresh/settings.h"

namespace {

using namespace quorvel;

QByteArray feedXml(int feed, int items) {
    QByteArray xml = "<rss version=\"2.0\"><channel><title>Feed " + QByteArray::number(feed) +
                     "</title><lastBuildDate>Sun, 06 Dec 2026</lastBuildDate>";
    if (feed % 4 == 0)
        xml +=
            "<image><url>http://example.org/logo.png</url><link>http://example.org/</link></image>";
    for (int i = 0; i < items; ++i)
        xml += "<item><title>Story " + QByteArray::number(i) +
               "</title><link>http://example.org/s/" + QByteArray::number(i) +
               "</link><pubDate>Sun, 06 Dec 2026 09:00:00 GMT</pubDate><description>"
               "&lt;p&gt;A short summary with &lt;b&gt;bold&lt;/b&gt; text and a &lt;a "
               "href=\"http://example.org/more\"&gt;link&lt;/a&gt; and a relative &lt;img "
               "src=\"img/" + QByteArray::number(i) + ".png\"&gt;.&lt;/p&gt;</description></item>";
    return xml + "</channel></rss>";
}

// The same feed as Atom 1.0 and as JSON Feed 1.1.
QByteArray atomXml(int feed, int items) {
    QByteArray xml = "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Feed " +
                     QByteArray::number(feed) + "</title><updated>2026-12-06T09:00:00Z</updated>"
                     "<link href=\"http://example.org/\"/>";
    if (feed % 4 == 0)
        xml += "<logo>http://example.org/logo.png</logo>";
    for (int i = 0; i < items; ++i)
        xml += "<entry><title>Story " + QByteArray::number(i) +
               "</title><link href=\"http://example.org/s/" + QByteArray::number(i) +
               "\"/><published>2026-12-06T09:00:00+01:00</published><content type=\"html\">"
               "&lt;p&gt;A short summary with &lt;b&gt;bold&lt;/b&gt; text and a &lt;a "
               "href=\"http://example.org/more\"&gt;link&lt;/a&gt; and a relative &lt;img "
               "src=\"img/" + QByteArray::number(i) + ".png\"&gt;.&lt;/p&gt;</content></entry>";
    return xml + "</feed>";
}

QByteArray jsonFeed(int feed, int items) {
    QByteArray json = "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": \"Feed " +
                      QByteArray::number(feed) + "\", \"home_page_url\": \"http://example.org/\"";
    if (feed % 4 == 0)
        json += ", \"icon\": \"http://example.org/logo.png\"";
    json += ", \"items\": [";
    for (int i = 0; i < items; ++i)
        json += QByteArray(i ? "," : "") + "{\"id\": \"" + QByteArray::number(i) +
                "\", \"title\": \"Story " + QByteArray::number(i) +
                "\", \"url\": \"http://example.org/s/" + QByteArray::number(i) +
                "\", \"date_published\": \"2026-12-06T09:00:00+01:00\", \"content_html\": "
                "\"<p>A short summary with <b>bold</b> text and a <a "
                "href=\\\"http://example.org/more\\\">link</a> and a relative <img src=\\\"img/" +
                QByteArray::number(i) + ".png\\\">.</p>\"}";
    return json + "]}";
}

std::vector<Feed> parsedFeeds(int feeds, int items) {
    std::vector<Feed> parsed;
    FeedParseOptions options;
    options.articleLimit = items;
    for (int f = 0; f < feeds; ++f)
        parsed.push_back(parseFeed(feedXml(f, items), options).feed);
    return parsed;
}

void BM_BuildPage(benchmark::State& state) {
    const std::vector<Feed> docs = parsedFeeds(200, 50);
    Settings settings;
    settings.heading = settings.link = QStringLiteral("font-family:arial;font-size:11;");
    for (auto _ : state) {
        QString pageText;
        QString first;
        for (std::size_t i = 0; i < docs.size(); ++i)
            appendFeedMarkup(docs[i], i % 3 == 2, i == 0, &pageText, &first,
                             QUrl(QStringLiteral("http://example.org/feeds/%1.xml").arg(i)));
        const QString page = pageSkeleton(buildStyleBlock(settings), pageText);
        benchmark::DoNotOptimize(page.size());
    }
}
BENCHMARK(BM_BuildPage)->Unit(benchmark::kMillisecond);

// The XML parse alone, into a whole tree (what a refresh did before the feed model).
void BM_ParseFeeds(benchmark::State& state) {
    std::vector<QByteArray> texts;
    for (int f = 0; f < 200; ++f)
        texts.push_back(feedXml(f, 50));
    for (auto _ : state)
        for (const QByteArray& text : texts)
            benchmark::DoNotOptimize(XmlDocument::parse(text).isNull());
}
BENCHMARK(BM_ParseFeeds)->Unit(benchmark::kMillisecond);

// Reading 200 feeds of 50 items into the model, per format.
template <QByteArray (*make)(int, int)>
void BM_ReadFeeds(benchmark::State& state) {
    std::vector<QByteArray> texts;
    for (int f = 0; f < 200; ++f)
        texts.push_back(make(f, 50));
    FeedParseOptions options;
    options.articleLimit = 50;
    for (auto _ : state)
        for (const QByteArray& text : texts)
            benchmark::DoNotOptimize(parseFeed(text, options).feed.items.size());
}
BENCHMARK(BM_ReadFeeds<feedXml>)->Name("BM_ReadFeeds/rss")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFeeds<atomXml>)->Name("BM_ReadFeeds/atom")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFeeds<jsonFeed>)->Name("BM_ReadFeeds/json")->Unit(benchmark::kMillisecond);

} // namespace
