// Robustness over two public collections of feed test documents, read in place (the tests
// skip when they are absent).

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include "feed/feedparser.h"
#include "refresh/htmlsanitizer.h"
#include "refresh/pagemarkup.h"
#include "testfiles.h"

using namespace quorvel;
using test::readFile;

namespace {

QStringList corpusFiles(const QStringList& folders) {
    QStringList files;
    for (const QString& folder : folders)
        for (QDirIterator it(QUORVEL_CORPUS "/" + folder, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            files << it.next();
    return files;
}

// The document's opening comment, where the collection keeps Expect: and Header: lines.
QString openingComment(const QByteArray& bytes) {
    const qsizetype end = bytes.indexOf("-->");
    return QString::fromUtf8(bytes.left(end < 0 || end > 4096 ? 4096 : end));
}

// The charset of a "Header: Content-type: ...; charset=X" line, as the server would send it.
QByteArray headerCharset(const QString& comment) {
    static const QRegularExpression header(
        QStringLiteral(R"(Header:\s*Content-type:[^\n]*;\s*charset\s*=\s*["']?([^"'\s;]+))"),
        QRegularExpression::CaseInsensitiveOption);
    return header.match(comment).captured(1).toLatin1();
}

// A document read as a feed fetched from example.com, and the page markup made of it.
struct Read {
    FeedParseResult result;
    QString page, firstTitle;
};

Read readAsFeed(const QByteArray& bytes, const QByteArray& charset = QByteArray()) {
    const QUrl address(QStringLiteral("http://example.com/feed/"));
    Read r{parseFeed(bytes, {.httpCharset = charset, .address = address})};
    appendFeedMarkup(r.result.feed, false, true, &r.page, &r.firstTitle, address);
    return r;
}

QString decodeBasicEntities(QString text) {
    for (const auto& [entity, character] :
         {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}})
        text.replace(QLatin1String(entity), QLatin1String(character));
    return text;
}

// An attribute value as a browser reads it for a URL: character references decoded, white
// space and control characters dropped.
QString urlAsRead(const QString& value) {
    static const QRegularExpression reference(QStringLiteral("&#(x?)([0-9a-f]+);?"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression ignored(QStringLiteral("[\\x00-\\x20]"));
    QString out = decodeBasicEntities(value);
    for (auto m = reference.match(out); m.hasMatch(); m = reference.match(out)) {
        const char32_t code = m.captured(2).toUInt(nullptr, m.captured(1).isEmpty() ? 10 : 16);
        out.replace(m.capturedStart(), m.capturedLength(), QString::fromUcs4(&code, 1));
    }
    return out.remove(ignored);
}

} // namespace

TEST(Corpus, EveryDocumentParsesAndBuildsItsPageQuicklyWithValidText) {
    const QStringList files = corpusFiles({"feedparser", "feedvalidator"});
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    int parsed = 0;
    QStringList problems;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        QElapsedTimer timer;
        timer.start();
        const Read read = readAsFeed(bytes, headerCharset(openingComment(bytes)));
        const FeedParseResult& feed = read.result;
        if (timer.elapsed() > 1000)
            problems << QStringLiteral("took %1 ms: %2").arg(timer.elapsed()).arg(path);
        if (feed.status == FeedParseStatus::Failed && feed.error.isEmpty())
            problems << "failed without a reason: " + path;
        // No lone surrogates, so the UTF-8 form is valid and converts back to the same text.
        for (const QString& text : {feed.error, read.page, read.firstTitle})
            if (!text.isValidUtf16() || QString::fromUtf8(text.toUtf8()) != text)
                problems << "invalid text: " + path;
        parsed += feed.status != FeedParseStatus::Failed;
        QStringList texts{feed.feed.title, feed.feed.buildDate};
        for (const FeedItem& item : feed.feed.items)
            texts << item.title << item.date << item.description;
        for (const QString& text : texts) {
            const QString once = sanitizeHtml(text);
            if (sanitizeHtml(once) != once)
                problems << "unstable: " + path + ": " + text.left(80);
        }
    }
    EXPECT_GT(parsed, files.size() / 2);
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                    << problems.mid(0, 20).join('\n').toStdString();
}

TEST(Corpus, PageTitlesAgreeWithTheRssAndRdfCases) {
    const QStringList files =
        corpusFiles({"feedparser/wellformed/rss", "feedparser/wellformed/rdf"});
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    static const QRegularExpression expectLine(
        QStringLiteral(R"(Expect:.*?(?<![\w\]])(feed|entries\[0\])\['title'\]\s*==\s*)"
                       R"(u?(['"])((?:\\.|(?!\2).)*)\2)"));
    static const QRegularExpression heading(
        QStringLiteral("^<a name='[^']*'></a>(?:<span class='heading'>(.*?)</span>|"
                       "<a href='[^']*'><img border='0' src='[^']*'></a><br />(.*?))"
                       "<br /><span class='bDate'>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression itemTitle(
        QStringLiteral("<a href='[^']*' target='_blank'>(.*?)</a><br /><span class='bDate'>"),
        QRegularExpression::DotMatchesEverythingOption);
    int cases = 0;
    QStringList disagreeing;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        const auto m = expectLine.match(openingComment(bytes));
        if (!m.hasMatch())
            continue;
        ++cases;
        const Read read = readAsFeed(bytes);
        QString ours = QStringLiteral("<no item>");
        if (m.captured(1) == u"feed") {
            const auto h = heading.match(read.page);
            ours = h.hasMatch() ? h.captured(1) + h.captured(2) : "<no heading>";
        } else if (const auto i = itemTitle.match(read.page); i.hasMatch()) {
            ours = i.captured(1);
            EXPECT_EQ(ours, sanitizeHtml(read.firstTitle)) << path.toStdString();
        }
        // Both sides with the five entities of escaped HTML text decoded, nothing else changed:
        // the page shows escaped text, the collection plain text or sanitised HTML.
        // The cases here escape nothing but quotes and backslashes in their Python literals.
        const QString expected = m.captured(3).replace(QRegularExpression(R"(\\(.))"), "\\1");
        if (decodeBasicEntities(ours) != decodeBasicEntities(expected))
            disagreeing << QFileInfo(path).fileName() + ": '" + ours + "' not '" + expected + "'";
    }
    ASSERT_GT(cases, 0);
    EXPECT_GE(100.0 * (cases - disagreeing.size()) / cases, 95.0)
        << disagreeing.join('\n').toStdString();
}

TEST(Corpus, EveryRealWorldFeedShowsItsTitleAndItems) {
    const QStringList files = corpusFiles({"realworld"});
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;
    // Files that hold no item as published, and why.
    const QMap<QString, QString> exceptions = {
        {"feedjira-feedjira__GoogleBlogSearchpauldix.xml", "a search feed with no result"},
        {"feed-rs-feed-rs__rss_2.0_invalid_1.xml",
         "cut off after the channel's head, before any item: not a feed a reader can show"},
    };
    static const QRegularExpression heading(
        QStringLiteral("^<a name='[^']*'></a>(?:<span class='heading'>|<a href=)"));
    int checked = 0;
    QStringList problems;
    for (const QString& path : files) {
        const QString name = QFileInfo(path).fileName();
        if (name == u"README.md" || name == u"SOURCES.tsv" || exceptions.contains(name))
            continue;
        ++checked;
        const Read read = readAsFeed(readFile(path));
        if (read.result.status != FeedParseStatus::Loaded)
            problems << name + ": " + read.result.error;
        else if (!heading.match(read.page).hasMatch() || read.page.contains(u"'No Title'"))
            problems << name + ": no channel title";
        else if (!read.page.contains(u"target='_blank'"))
            problems << name + ": no item";
    }
    EXPECT_GE(checked, 270);
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                    << problems.join('\n').toStdString();
}

TEST(Corpus, NothingActiveFromTheSanitiserCasesReachesThePage) {
    const QStringList files = corpusFiles({"feedparser/wellformed/sanitize"});
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    static const QRegularExpression forbiddenElement(
        QStringLiteral("<(script|style|iframe|object|embed|meta|link|base|form)(?![\\w-])"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression forbiddenUrl(
        QStringLiteral("^(javascript:|vbscript:|data:text)"),
        QRegularExpression::CaseInsensitiveOption);
    int withItems = 0;
    QStringList problems;
    for (const QString& path : files) {
        const QString page = readAsFeed(readFile(path)).page;
        withItems += page.contains(QLatin1String("target='_blank'"));
        const QString name = QFileInfo(path).fileName();
        if (const auto m = forbiddenElement.match(page); m.hasMatch())
            problems << name + ": <" + m.captured(1);
        for (const auto& [attribute, value] : test::tagAttributes(page)) {
            if (attribute.startsWith(u"on"))
                problems << name + ": event attribute " + attribute;
            else if ((attribute == u"href" || attribute == u"src") &&
                     forbiddenUrl.match(urlAsRead(value)).hasMatch())
                problems << name + ": " + attribute + "=" + urlAsRead(value).left(120);
        }
    }
    EXPECT_GT(withItems, 0) << "the cases do reach the page";
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                    << problems.mid(0, 20).join('\n').toStdString();
}
