// Robustness over two public collections of feed test documents, read in place: every
// document parses or fails cleanly, every text taken from it sanitises to a stable result,
// and the titles of the plain well-formed cases match what the collection expects.

#include "platform/htmlsanitizer.h"
#include "platform/xmldocument.h"

#include <algorithm>
#include <iostream>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

const QString corpusRoot = QStringLiteral(QUORVEL_CORPUS);

QStringList corpusFiles(const QString& folder) {
    QStringList files;
    QDirIterator it(corpusRoot + '/' + folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The paths the page and the OPML import use, and the elements whose texts reach the page.
const char* const pathsInUse[] = {"//root",           "//feed",          "//channel",
                                  "//channel//image", "//channel//item", "//item",
                                  "//opml//outline",  "//entry"};
const char* const textChildren[] = {"title",   "link",    "description",   "pubDate",
                                    "summary", "content", "lastBuildDate", "url"};

bool sameNodes(const std::vector<XmlNode>& a, const std::vector<XmlNode>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

} // namespace

TEST(Corpus, EveryDocumentParsesOrFailsCleanlyAndItsTextsSanitiseStably) {
    QStringList files = corpusFiles("feedparser") + corpusFiles("feedvalidator");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " << corpusRoot.toStdString();

    int parsed = 0, failed = 0, failedWithoutReason = 0, texts = 0;
    QStringList unstable, fastPathDiffers, pathMismatch;
    for (const QString& path : files) {
        QString error;
        XmlDocument doc = XmlDocument::parse(readFile(path), &error);
        if (doc.isNull()) {
            ++failed;
            if (error.isEmpty())
                ++failedWithoutReason;
            continue;
        }
        ++parsed;
        for (const char* xpath : pathsInUse) {
            const auto nodes = doc.selectNodes(QString::fromLatin1(xpath));
            // The tree walker and libxml2's evaluator (a predicate forces it) must agree.
            const auto viaLibxml = doc.selectNodes(QString::fromLatin1(xpath) + "[true()]");
            if (!sameNodes(nodes, viaLibxml))
                pathMismatch << path + " " + xpath;
            for (const XmlNode& node : nodes) {
                for (const char* child : textChildren) {
                    const XmlNode element = node.firstChildElement(QString::fromLatin1(child));
                    if (element.isNull())
                        continue;
                    const QString once = sanitizeHtml(element.text());
                    ++texts;
                    if (sanitizeHtml(once) != once)
                        unstable << path + " <" + child + ">";
                    // The fast path for simple markup writes what the parser path writes.
                    if (once != sanitizeHtmlWithParser(element.text()) &&
                        (element.text().contains(u'<') || element.text().contains(u'&')))
                        fastPathDiffers << path + " <" + child + ">: " + element.text();
                }
                for (const char* attribute : {"url", "xmlUrl", "text", "title"})
                    if (auto value = node.getAttribute(QString::fromLatin1(attribute)))
                        sanitizeHtml(*value);
            }
        }
    }
    std::cout << "[ corpus   ] " << files.size() << " files: " << parsed << " parsed, " << failed
              << " not well-formed; " << texts << " texts sanitised\n";
    EXPECT_GT(parsed, files.size() / 2);
    EXPECT_EQ(failedWithoutReason, 0);
    EXPECT_TRUE(unstable.isEmpty())
        << unstable.size() << " unstable, first: " << unstable.value(0).toStdString();
    EXPECT_TRUE(fastPathDiffers.isEmpty())
        << fastPathDiffers.size() << " differ, first: " << fastPathDiffers.value(0).toStdString();
    EXPECT_TRUE(pathMismatch.isEmpty()) << pathMismatch.value(0).toStdString();
}

TEST(Corpus, PlainTitlesMatchWhatTheWellFormedCasesExpect) {
    const QStringList files = corpusFiles("feedparser/wellformed");
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " << corpusRoot.toStdString();

    // Only plain ASCII expectations without markup, entities or escapes: the collection's
    // own sanitiser and whitespace rules differ from ours beyond that.
    static const QRegularExpression expectLine(
        QStringLiteral(
            R"(Expect:\s*not bozo and (feed|entries\[0\])\['title'\] == u?'([^'\\<&]*)'\s*$)"),
        QRegularExpression::MultilineOption);
    int cases = 0, matched = 0;
    QStringList mismatches;
    for (const QString& path : files) {
        const QByteArray bytes = readFile(path);
        const auto m = expectLine.match(QString::fromUtf8(bytes.left(1024)));
        if (!m.hasMatch())
            continue;
        const QString expected = m.captured(2);
        if (std::any_of(expected.begin(), expected.end(),
                        [](QChar c) { return c.unicode() > 0x7E; }))
            continue;
        ++cases;
        XmlDocument doc = XmlDocument::parse(bytes);
        QString actual =
            doc.isNull() ? QStringLiteral("<not parsed>") : QStringLiteral("<no title>");
        if (!doc.isNull()) {
            static const char* const feedTitles[] = {"//channel/title", "/feed/title"};
            static const char* const entryTitles[] = {"//item/title", "//entry/title"};
            const auto& candidates = m.captured(1) == u"feed" ? feedTitles : entryTitles;
            for (const char* xpath : candidates) {
                const auto nodes = doc.selectNodes(QString::fromLatin1(xpath));
                if (!nodes.empty()) {
                    actual = nodes.front().text();
                    break;
                }
            }
        }
        // The page shows titles sanitised: "safe<script>..</script> description" is
        // "safe description" there, as the collection expects.
        if (actual == expected || sanitizeHtml(actual) == expected)
            ++matched;
        else
            mismatches << QFileInfo(path).fileName() + ": '" + actual + "' != '" + expected + "'";
    }
    ASSERT_GT(cases, 0);
    const double share = 100.0 * matched / cases;
    std::cout << "[ corpus   ] titles: " << matched << " of " << cases << " match (" << share
              << "%)\n";
    for (const QString& line : mismatches)
        std::cout << "[ corpus   ]   " << line.toStdString() << "\n";
    // Measured: 49 of 60 (82%). The rest differ by design: XML names are case-sensitive
    // here (CDF's <TITLE>, iTunes' <TiTlE>), prefixed elements (dc:title, media:title,
    // rss:item) are not plain titles or items, <object> goes with its content and an
    // unterminated comment hides the rest of the title.
    EXPECT_GE(share, 75.0);
}
