// Robustness over two public collections of feed test documents, read in place: every
// document parses (or fails with a reason) and builds a page quickly and with valid text,
// the titles the page shows match what the RSS and RDF cases expect, and nothing active
// from the sanitiser cases reaches the page.

#include "platform/xmldocument.h"
#include "refresh/htmlsanitizer.h"
#include "refresh/pagemarkup.h"

#include <chrono>
#include <iostream>
#include <utility>

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "testfiles.h"

using namespace quorvel;
using test::readFile;

namespace {

QStringList corpusFiles(const QString& folder) {
    QStringList files;
    QDirIterator it(QStringLiteral(QUORVEL_CORPUS "/") + folder, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
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

struct Page {
    QString text;
    QString firstTitle;
};

Page buildPage(const XmlDocument& doc, bool headingsOnly) {
    Page page;
    appendFeedMarkup(doc, 10, headingsOnly, true, &page.text, &page.firstTitle,
                     QUrl(QStringLiteral("http://example.com/feed/")));
    return page;
}

// No lone surrogates, so the UTF-8 form is valid and converts back to the same text.
bool isValidText(const QString& text) {
    return text.isValidUtf16() && QString::fromUtf8(text.toUtf8()) == text;
}

// The body of a Python string literal with its escapes decoded ('' and u'' alike).
QString pythonString(QStringView body) {
    QString out;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != u'\\' || i + 1 == body.size()) {
            out += body[i];
            continue;
        }
        const QChar c = body[++i];
        const int digits = c == u'x' ? 2 : c == u'u' ? 4 : c == u'U' ? 8 : 0;
        bool ok = false;
        const char32_t code = body.mid(i + 1, digits).toUInt(&ok, 16);
        if (digits > 0 && ok && i + digits < body.size()) {
            out += QString::fromUcs4(&code, 1);
            i += digits;
        } else if (c == u'n' || c == u't' || c == u'r') {
            out += c == u'n' ? u'\n' : c == u't' ? u'\t' : u'\r';
        } else if (c == u'\\' || c == u'\'' || c == u'"') {
            out += c;
        } else {
            out += u'\\';
            out += c;
        }
    }
    return out;
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

QString clip(const QString& text) {
    return text.size() > 120 ? text.left(120) + "..." : text;
}

} // namespace

TEST(Corpus, EveryDocumentParsesAndBuildsItsPageQuicklyWithValidText) {
    const QStringList files = corpusFiles("feedparser") + corpusFiles("feedvalidator");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    int parsed = 0;
    double slowest = 0;
    QString slowestFile;
    QStringList problems;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        const QByteArray charset = headerCharset(openingComment(bytes));
        QString error;
        const auto start = std::chrono::steady_clock::now();
        const XmlDocument doc = XmlDocument::parse(bytes, &error, charset);
        const Page full = buildPage(doc, false);
        const Page headings = buildPage(doc, true);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() > slowest) {
            slowest = took.count();
            slowestFile = path;
        }
        if (took.count() > 1.0)
            problems << QStringLiteral("took %1 s: %2").arg(took.count()).arg(path);
        if (doc.isNull() && error.isEmpty())
            problems << "failed without a reason: " + path;
        for (const QString* text : {&std::as_const(error), &full.text, &full.firstTitle,
                                    &headings.text, &headings.firstTitle})
            if (!isValidText(*text))
                problems << "invalid text: " + path;
        if (doc.isNull())
            continue;
        ++parsed;
        for (const char* xpath : {"//channel", "//item", "//feed", "//entry"}) {
            for (const XmlNode& node : doc.selectNodes(QString::fromLatin1(xpath))) {
                for (const char* child :
                     {"title", "description", "pubDate", "lastBuildDate", "summary", "content"}) {
                    const QString text = node.firstChildElement(QString::fromLatin1(child)).text();
                    const QString once = sanitizeHtml(text);
                    if (sanitizeHtml(once) != once)
                        problems << "unstable: " + path + " <" + child + ">";
                    if (once != sanitizeHtmlWithParser(text) &&
                        (text.contains(u'<') || text.contains(u'&')))
                        problems << "fast path differs: " + path + " <" + child + ">";
                }
            }
        }
    }
    std::cout << "[ corpus   ] " << files.size() << " files, " << parsed << " parsed; slowest "
              << slowest << " s: " << slowestFile.toStdString() << "\n";
    EXPECT_GT(parsed, files.size() / 2);
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                    << problems.mid(0, 20).join('\n').toStdString();
}

TEST(Corpus, PageTitlesAgreeWithTheRssAndRdfCases) {
    const QStringList files =
        corpusFiles("feedparser/wellformed/rss") + corpusFiles("feedparser/wellformed/rdf");
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
    int cases = 0, agreeing = 0;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        const auto m = expectLine.match(openingComment(bytes));
        if (!m.hasMatch())
            continue;
        ++cases;
        const bool feed = m.captured(1) == u"feed";
        const XmlDocument doc = XmlDocument::parse(bytes);
        const Page page = buildPage(doc, false);
        QString ours = QStringLiteral("<no item>");
        if (feed) {
            const auto h = heading.match(page.text);
            ours = h.hasMatch() ? h.captured(1) + h.captured(2) : "<no heading>";
        } else if (const auto i = itemTitle.match(page.text); i.hasMatch()) {
            ours = i.captured(1);
            EXPECT_EQ(ours, sanitizeHtml(page.firstTitle)) << path.toStdString();
        }
        // Both sides with the five entities of escaped HTML text decoded, nothing else changed:
        // the page shows escaped text, the collection plain text or sanitised HTML.
        const QString expected = pythonString(m.captured(3));
        if (decodeBasicEntities(ours) == decodeBasicEntities(expected)) {
            ++agreeing;
            continue;
        }
        std::cout << "[ corpus   ]   " << QFileInfo(path).fileName().toStdString() << ": ours '"
                  << clip(ours).toStdString() << "', expected '" << clip(expected).toStdString()
                  << "'\n";
    }
    ASSERT_GT(cases, 0);
    std::cout << "[ corpus   ] titles: " << agreeing << " of " << cases << " agree\n";
    EXPECT_GE(100.0 * agreeing / cases, 95.0);
}

TEST(Corpus, NothingActiveFromTheSanitiserCasesReachesThePage) {
    const QStringList files = corpusFiles("feedparser/wellformed/sanitize");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    static const QRegularExpression tag(
        QStringLiteral(
            R"(<[a-z][^\s/>]*((?:\s+[^\s=/>]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*)\s*/?>)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        QStringLiteral(R"re(([^\s=/>]+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))?)re"));
    static const QRegularExpression forbiddenElement(
        QStringLiteral("<(script|style|iframe|object|embed|meta|link|base|form)(?![\\w-])"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression forbiddenUrl(
        QStringLiteral("^(javascript:|vbscript:|data:text)"),
        QRegularExpression::CaseInsensitiveOption);
    int withItems = 0;
    QStringList problems;
    for (const QString& path : files) {
        const XmlDocument doc = XmlDocument::parse(readFile(path));
        const Page page = buildPage(doc, false);
        withItems += page.text.contains(QLatin1String("target='_blank'"));
        const QString name = QFileInfo(path).fileName();
        if (const auto m = forbiddenElement.match(page.text); m.hasMatch())
            problems << name + ": <" + m.captured(1);
        for (const auto& t : tag.globalMatch(page.text)) {
            for (const auto& a : attribute.globalMatch(t.captured(1))) {
                const QString attrName = a.captured(1).toLower();
                const QString url = urlAsRead(a.captured(2) + a.captured(3) + a.captured(4));
                if (attrName.startsWith(u"on"))
                    problems << name + ": event attribute " + attrName;
                else if ((attrName == u"href" || attrName == u"src") &&
                         forbiddenUrl.match(url).hasMatch())
                    problems << name + ": " + attrName + "=" + clip(url);
            }
        }
    }
    std::cout << "[ corpus   ] sanitiser cases: " << files.size() << " checked, " << withItems
              << " put items on the page\n";
    EXPECT_TRUE(problems.isEmpty()) << problems.size() << " problems:\n"
                                    << problems.mid(0, 20).join('\n').toStdString();
}
