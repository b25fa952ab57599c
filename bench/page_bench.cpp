// Page building without network: the markup of 200 parsed feeds of 50 items each, the style
// block and the page skeleton; reading those feeds as RSS, Atom and JSON Feed.

#include <vector>

#include <benchmark/benchmark.h>

#include "benchsupport.h"
#include "feed/feedparser.h"
#include "platform/xmldocument.h"
#include "refresh/pagemarkup.h"
#include "refresh/settings.h"

namespace {

using namespace quorvel;

// One feed of items with a date, a description with markup and a relative image, written
// as RSS 2.0, as Atom 1.0 and as JSON Feed 1.1.
constexpr bench::FeedShape rssShape{
    R"(<rss version="2.0"><channel><title>Feed %1</title><lastBuildDate>Sun, 06 Dec 2026</lastBuildDate>)",
    R"(<image><url>http://example.org/logo.png</url><link>http://example.org/</link></image>)",
    "",
    R"(<item><title>Story %1</title><link>http://example.org/s/%1</link>)"
    R"(<pubDate>Sun, 06 Dec 2026 09:00:00 GMT</pubDate><description>&lt;p&gt;A short summary )"
    R"(with &lt;b&gt;bold&lt;/b&gt; text and a &lt;a href="http://example.org/more"&gt;link&lt;/a&gt; )"
    R"(and a relative &lt;img src="img/%1.png"&gt;.&lt;/p&gt;</description></item>)",
    "",
    "</channel></rss>"};

constexpr bench::FeedShape atomShape{
    R"(<feed xmlns="http://www.w3.org/2005/Atom"><title>Feed %1</title>)"
    R"(<updated>2026-12-06T09:00:00Z</updated><link href="http://example.org/"/>)",
    "<logo>http://example.org/logo.png</logo>",
    "",
    R"(<entry><title>Story %1</title><link href="http://example.org/s/%1"/>)"
    R"(<published>2026-12-06T09:00:00+01:00</published><content type="html">&lt;p&gt;A short )"
    R"(summary with &lt;b&gt;bold&lt;/b&gt; text and a &lt;a href="http://example.org/more"&gt;)"
    R"(link&lt;/a&gt; and a relative &lt;img src="img/%1.png"&gt;.&lt;/p&gt;</content></entry>)",
    "",
    "</feed>"};

constexpr bench::FeedShape jsonShape{
    R"({"version": "https://jsonfeed.org/version/1.1", "title": "Feed %1", )"
    R"("home_page_url": "http://example.org/")",
    R"(, "icon": "http://example.org/logo.png")",
    R"(, "items": [)",
    R"({"id": "%1", "title": "Story %1", "url": "http://example.org/s/%1", )"
    R"("date_published": "2026-12-06T09:00:00+01:00", "content_html": "<p>A short summary )"
    R"(with <b>bold</b> text and a <a href=\"http://example.org/more\">link</a> and a )"
    R"(relative <img src=\"img/%1.png\">.</p>"})",
    ",",
    "]}"};

QByteArray feedXml(int feed, int items) {
    return bench::buildFeed(rssShape, feed, items);
}

QByteArray atomXml(int feed, int items) {
    return bench::buildFeed(atomShape, feed, items);
}

QByteArray jsonFeed(int feed, int items) {
    return bench::buildFeed(jsonShape, feed, items);
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
