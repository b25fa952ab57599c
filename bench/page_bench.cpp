// Page building without network: the markup of 200 parsed feeds of 50 items each, the style
// block and the page skeleton.

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

void BM_ParseFeeds(benchmark::State& state) {
    std::vector<QByteArray> texts;
    for (int f = 0; f < 200; ++f)
        texts.push_back(feedXml(f, 50));
    for (auto _ : state)
        for (const QByteArray& text : texts)
            benchmark::DoNotOptimize(XmlDocument::parse(text).isNull());
}
BENCHMARK(BM_ParseFeeds)->Unit(benchmark::kMillisecond);

} // namespace
