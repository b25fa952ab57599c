// Prints how the feed parser reads each file given: one JSON object per line with the
// file, the status, the format, the channel title and the first five items' titles and
// links (as the model holds them: HTML fragments). tools/compare_feedparser.py reads it.
//
// usage: feed_dump [--limit N] FILE...

#include <cstdio>
#include <cstring>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "feed/feedparser.h"

using namespace quorvel;

int main(int argc, char** argv) {
    int limit = 5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--limit") == 0) {
        limit = std::atoi(argv[2]);
        first = 3;
    }
    static const char* const formats[] = {"none", "rss", "atom", "json"};
    static const char* const statuses[] = {"loaded", "not-a-feed", "failed", "cancelled"};
    for (int i = first; i < argc; ++i) {
        QFile file(QFile::decodeName(argv[i]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        FeedParseOptions options;
        options.articleLimit = limit;
        const FeedParseResult result = parseFeed(file.readAll(), options);
        QJsonArray items;
        for (const FeedItem& item : result.feed.items)
            items.append(QJsonObject{{"title", item.title}, {"link", item.link}});
        const QJsonObject out{{"file", QFile::decodeName(argv[i])},
                              {"status", statuses[int(result.status)]},
                              {"format", formats[int(result.feed.format)]},
                              {"title", result.feed.title},
                              {"items", items}};
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    }
    return 0;
}
