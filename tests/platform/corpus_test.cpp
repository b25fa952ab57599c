// Robustness over two public collections of feed test documents, read in place: every
// document parses or fails cleanly, every text taken from it sanitises to a stable result,
// and the titles of the plain well-formed cases match what the collection expects.

#include "platform/htmlsanitizer.h"
#include "platform/xmldocument.h"

#include <algorithm>
#include <iostream>

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

} // namespace

TEST(Corpus, EveryDocumentParsesOrFailsCleanlyAndItsTextsSanitiseStably) {
    const QStringList files = corpusFiles("feedparser") + corpusFiles("feedvalidator");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    int parsed = 0, failedWithoutReason = 0;
    QStringList problems;
    for (const QString& path : files) {
        QString error;
        XmlDocument doc = XmlDocument::parse(readFile(path), &error);
        if (doc.isNull()) {
            failedWithoutReason += error.isEmpty();
            continue;
        }
        ++parsed;
        for (const char* xpath : {"//root", "//feed", "//channel", "//channel//image",
                                  "//channel//item", "//item", "//opml//outline", "//entry"}) {
            const auto nodes = doc.selectNodes(QString::fromLatin1(xpath));
            // The tree walker and libxml2's evaluator (a predicate forces it) must agree.
            if (nodes != doc.selectNodes(QString::fromLatin1(xpath) + "[true()]"))
                problems << "paths differ: " + path + " " + xpath;
            for (const XmlNode& node : nodes) {
                for (const char* child : {"title", "link", "description", "pubDate", "summary",
                                          "content", "lastBuildDate", "url"}) {
                    const QString text = node.firstChildElement(QString::fromLatin1(child)).text();
                    const QString once = sanitizeHtml(text);
                    if (sanitizeHtml(once) != once)
                        problems << "unstable: " + path + " <" + child + ">";
                    if (once != sanitizeHtmlWithParser(text) &&
                        (text.contains(u'<') || text.contains(u'&')))
                        problems << "fast path differs: " + path + " <" + child + ">: " + text;
                }
                for (const char* attribute : {"url", "xmlUrl", "text", "title"})
                    sanitizeHtml(node.getAttribute(QString::fromLatin1(attribute)).value_or(""));
            }
        }
    }
    std::cout << "[ corpus   ] " << files.size() << " files, " << parsed << " parsed\n";
    EXPECT_GT(parsed, files.size() / 2);
    EXPECT_EQ(failedWithoutReason, 0);
    EXPECT_TRUE(problems.isEmpty())
        << problems.size() << ", first " << problems.value(0).toStdString();
}

TEST(Corpus, PlainTitlesMatchWhatTheWellFormedCasesExpect) {
    const QStringList files = corpusFiles("feedparser/wellformed");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " QUORVEL_CORPUS;

    // Only plain ASCII expectations without markup, entities or escapes: the collection's
    // own sanitiser and whitespace rules differ from ours beyond that.
    static const QRegularExpression expectLine(
        QStringLiteral(
            R"(Expect:\s*not bozo and (feed|entries\[0\])\['title'\] == u?'([^'\\<&]*)'\s*$)"),
        QRegularExpression::MultilineOption);
    int cases = 0, matched = 0;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        const auto m = expectLine.match(QString::fromUtf8(bytes.left(1024)));
        const QString expected = m.captured(2);
        if (!m.hasMatch() ||
            std::any_of(expected.begin(), expected.end(), [](QChar c) { return c > u'~'; }))
            continue;
        ++cases;
        const XmlDocument doc = XmlDocument::parse(bytes);
        const bool feed = m.captured(1) == u"feed";
        QString actual = doc.isNull() ? "<not parsed>" : "<no title>";
        for (const char* xpath :
             {feed ? "//channel/title" : "//item/title", feed ? "/feed/title" : "//entry/title"}) {
            if (const auto nodes = doc.selectNodes(QString::fromLatin1(xpath)); !nodes.empty()) {
                actual = nodes.front().text();
                break;
            }
        }
        // The page shows titles sanitised: "safe<script>..</script> description" becomes
        // "safe description" there, as the collection expects.
        if (actual == expected || sanitizeHtml(actual) == expected)
            ++matched;
        else
            std::cout << "[ corpus   ]   " << QFileInfo(path).fileName().toStdString() << ": '"
                      << actual.toStdString() << "' != '" << expected.toStdString() << "'\n";
    }
    ASSERT_GT(cases, 0);
    std::cout << "[ corpus   ] titles: " << matched << " of " << cases << " match\n";
    // Measured: 49 of 60 (82%). The rest differ by design: XML names are case-sensitive
    // here (CDF's <TITLE>, iTunes' <TiTlE>), prefixed elements (dc:title, media:title,
    // rss:item) are not plain titles or items, <object> goes with its content and an
    // unterminated comment hides the rest of the title.
    EXPECT_GE(100.0 * matched / cases, 75.0);
}
