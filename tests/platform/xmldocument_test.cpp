#include "platform/xmldocument.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <thread>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quorvel;

namespace {

QString dataPath(const char* name) {
    return QStringLiteral(QUORVEL_TEST_DATA "/xml/") + name;
}

XmlDocument load(const char* name) {
    QString error;
    XmlDocument doc = XmlDocument::fromFile(dataPath(name), &error);
    EXPECT_FALSE(doc.isNull()) << name << ": " << error.toStdString();
    return doc;
}

QString firstText(const XmlDocument& doc, const char* xpath) {
    const auto nodes = doc.selectNodes(QString::fromLatin1(xpath));
    return nodes.empty() ? QStringLiteral("<none>") : nodes.front().text();
}

QStringList attributeList(const std::vector<XmlNode>& nodes, const char* attribute) {
    QStringList values;
    for (const XmlNode& node : nodes)
        values << node.getAttribute(QString::fromLatin1(attribute)).value_or(QStringLiteral("-"));
    return values;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// ---- parsing and its safety rules --------------------------------------------------------

TEST(XmlDocumentParse, MalformedXmlFailsWithTheLineAndTheParsersReason) {
    QString error;
    XmlDocument doc = XmlDocument::fromFile(dataPath("malformed-tag-mismatch.xml"), &error);
    EXPECT_TRUE(doc.isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("line 3: Opening and ending tag mismatch")))
        << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("malformed-tag-mismatch.xml")));
}

TEST(XmlDocumentParse, EmptyOrTruncatedInputFails) {
    QString error;
    EXPECT_TRUE(XmlDocument::parse(QByteArray(), &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(XmlDocument::parse("<rss><channel>", &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(XmlDocument::parse("<a/><b/>", &error).isNull());
}

TEST(XmlDocumentParse, SuccessClearsTheErrorText) {
    QString error = QStringLiteral("stale");
    EXPECT_FALSE(XmlDocument::parse("<a/>", &error).isNull());
    EXPECT_TRUE(error.isEmpty());
}

TEST(XmlDocumentParse, UndeclaredHtmlEntitiesBecomeTheirCharacters) {
    XmlDocument doc = load("html-entities.xml");
    EXPECT_EQ(firstText(doc, "//channel/title"), QString::fromUtf8("Café\u00A0Noir — © 2024"));
    EXPECT_EQ(doc.selectNodes("//image").front().getAttribute("alt"),
              QString::fromUtf8("café & crème"));
    // Inside CDATA nothing is a reference.
    EXPECT_EQ(firstText(doc, "//item/title"), QStringLiteral("&nbsp; stays literal"));
}

TEST(XmlDocumentParse, HtmlEntitiesResolveWhenTheExternalDtdIsNotLoaded) {
    XmlDocument doc = load("html-entities-with-dtd.xml");
    EXPECT_EQ(firstText(doc, "//channel/title"), QString::fromUtf8("Façade…"));
}

TEST(XmlDocumentParse, EntitiesDeclaredInTheDocumentAreNotExpanded) {
    XmlDocument doc = load("declared-entity.xml");
    EXPECT_EQ(firstText(doc, "//t"), QStringLiteral("beforeafter"));
    // A declaration wins over the HTML name, and stays unexpanded too.
    EXPECT_EQ(firstText(doc, "//u"), QStringLiteral("ab"));
    EXPECT_EQ(doc.documentElement().getAttribute("note"), QStringLiteral("xy"));
}

TEST(XmlDocumentParse, AnUndefinedEntityWithoutDtdIsAnError) {
    QString error;
    EXPECT_TRUE(XmlDocument::fromFile(dataPath("undefined-entity.xml"), &error).isNull());
    EXPECT_TRUE(error.contains(QStringLiteral("notAnEntity"))) << error.toStdString();
}

TEST(XmlDocumentParse, BillionLaughsFailsQuicklyWithoutExpanding) {
    const auto start = std::chrono::steady_clock::now();
    QString error;
    XmlDocument doc = XmlDocument::fromFile(dataPath("billion-laughs.xml"), &error);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (doc.isNull()) {
        EXPECT_TRUE(error.contains(QStringLiteral("entity"), Qt::CaseInsensitive))
            << error.toStdString();
    } else {
        EXPECT_TRUE(doc.documentElement().text().isEmpty());
    }
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(XmlDocumentParse, ExternalEntitiesAndDtdsAreNeverRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secret = dir.filePath("secret.txt");
    ASSERT_TRUE(writeFile(secret, "TOP-SECRET-CONTENT"));
    const QString dtd = dir.filePath("defs.dtd");
    ASSERT_TRUE(writeFile(dtd, "<!ENTITY leak 'LEAKED-FROM-DTD'>"));
    const QByteArray url = QUrl::fromLocalFile(secret).toEncoded();
    const QByteArray dtdUrl = QUrl::fromLocalFile(dtd).toEncoded();

    const QByteArray viaEntity = "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + url + "\">]><r>a&x;b</r>";
    XmlDocument doc = XmlDocument::parse(viaEntity);
    ASSERT_FALSE(doc.isNull());
    EXPECT_EQ(doc.documentElement().text(), QStringLiteral("ab"));
    EXPECT_FALSE(doc.toBytes().contains("TOP-SECRET"));

    const QByteArray viaDtd = "<!DOCTYPE r SYSTEM \"" + dtdUrl + "\"><r>a&leak;b</r>";
    doc = XmlDocument::parse(viaDtd);
    if (!doc.isNull()) {
        EXPECT_FALSE(doc.toBytes().contains("LEAKED"));
    }

    const QByteArray viaParameter =
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtdUrl + "\"> %p;]><r>&leak;</r>";
    doc = XmlDocument::parse(viaParameter);
    if (!doc.isNull()) {
        EXPECT_FALSE(doc.toBytes().contains("LEAKED"));
    }
}

TEST(XmlDocumentParse, InvalidUtf8BecomesReplacementCharacters) {
    XmlDocument doc = load("invalid-utf8.xml");
    const QString fffd(QChar(0xFFFD));
    EXPECT_EQ(firstText(doc, "//t"), QStringLiteral("a") + fffd + "b" + fffd);
    // A truncated sequence and an overlong form count as one bad sequence each.
    EXPECT_EQ(firstText(doc, "//u"), fffd + "x" + fffd + "y");
    EXPECT_EQ(doc.selectNodes("//v").front().getAttribute("attr"), fffd);
    EXPECT_EQ(firstText(doc, "//v"), QString::fromUtf8("ok é"));

    doc = load("invalid-utf8-undeclared.xml");
    EXPECT_EQ(firstText(doc, "//t"), QStringLiteral("caf") + fffd);
}

TEST(XmlDocumentParse, DeclaredLegacyEncodingsAreDecoded) {
    EXPECT_EQ(firstText(load("latin1.xml"), "//t"), QString::fromUtf8("café crème"));
    EXPECT_EQ(firstText(load("windows-1252.xml"), "//t"), QString::fromUtf8("“quoted” € 5"));
    EXPECT_EQ(firstText(load("utf16le-bom.xml"), "//t"), QString::fromUtf8("über — 日本"));
}

TEST(XmlDocumentParse, FromFileNamesTheFileThatCannotBeRead) {
    QTemporaryDir dir;
    QString error;
    const QString missing = dir.filePath("nowhere.xml");
    EXPECT_TRUE(XmlDocument::fromFile(missing, &error).isNull());
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(missing))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("does not exist")));

    error.clear();
    EXPECT_TRUE(XmlDocument::fromFile(dir.path(), &error).isNull());
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(dir.path()))) << error.toStdString();
}

TEST(XmlDocumentParse, ManyThreadsParseAndQueryAtOnce) {
    const QByteArray feed = readFile(dataPath("html-entities.xml"));
    const QByteArray rdf = readFile(dataPath("rss10.rdf"));
    const QByteArray broken = readFile(dataPath("malformed-tag-mismatch.xml"));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 150; ++i) {
                XmlDocument a = XmlDocument::parse(feed);
                XmlDocument b = XmlDocument::parse(rdf);
                QString error;
                XmlDocument c = XmlDocument::parse(broken, &error);
                if (a.isNull() || b.isNull() || !c.isNull() || !error.startsWith("line 3") ||
                    a.selectNodes("//channel/title").front().text() !=
                        QString::fromUtf8("Café\u00A0Noir — © 2024") ||
                    b.selectNodes("//item").size() != 2 ||
                    b.selectNodes("//item[title='Second']").size() != 1)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

// ---- text and attributes -------------------------------------------------------------

TEST(XmlNodeText, ConcatenatesTextAndCdataOfAllDescendantsTrimmed) {
    XmlDocument doc = XmlDocument::parse(
        "<r>\n  <a> one <b>two</b><![CDATA[ <three> ]]><!-- no --><?pi no?>\n</a>\t</r>");
    ASSERT_FALSE(doc.isNull());
    EXPECT_EQ(doc.documentElement().text(), QStringLiteral("one two <three>"));
    EXPECT_EQ(firstText(load("rss20.xml"), "//channel/title"), QStringLiteral("Example Channel"));
    EXPECT_EQ(XmlNode().text(), QString());
}

TEST(XmlNodeText, ReturnsTheMarkupThatDescriptionsCarryAsText) {
    XmlDocument doc = load("rss20.xml");
    const auto items = doc.selectNodes("//channel//item");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].firstChildElement("description").text(),
              QStringLiteral("<p>Alpha <b>text</b></p>"));
    EXPECT_EQ(items[1].firstChildElement("description").text(), QStringLiteral("<p>Beta text</p>"));
    EXPECT_TRUE(items[2].firstChildElement("description").isNull());
}

TEST(XmlNodeAttributes, MissingIsDistinctFromEmpty) {
    XmlDocument doc = XmlDocument::parse("<feed url='' num='10'/>");
    XmlNode feed = doc.documentElement();
    EXPECT_EQ(feed.getAttribute("url"), QString(""));
    EXPECT_TRUE(feed.getAttribute("url").has_value());
    EXPECT_FALSE(feed.getAttribute("disabled").has_value());
    EXPECT_FALSE(XmlNode().getAttribute("url").has_value());
}

TEST(XmlNodeAttributes, SetReplacesInPlaceAndAppendsNewOnes) {
    XmlDocument doc = XmlDocument::parse("<feed headers='false' num='10' url='http://a/'/>");
    XmlNode feed = doc.documentElement();
    feed.setAttribute("num", "25");
    feed.setAttribute("disabled", "false");
    feed.setAttribute("headers", "");
    EXPECT_EQ(doc.toBytes(), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<feed headers=\"\" num=\"25\" url=\"http://a/\" "
                                        "disabled=\"false\"/>\n"));
}

// ---- XPath ---------------------------------------------------------------------------

TEST(XmlDocumentSelect, UnprefixedNamesReachElementsInADefaultNamespace) {
    XmlDocument doc = load("rss10.rdf");
    EXPECT_EQ(doc.selectNodes("//channel").size(), 1u);
    EXPECT_EQ(doc.selectNodes("//channel//item").size(), 0u);
    const auto items = doc.selectNodes("//item");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].firstChildElement("title").text(), QStringLiteral("First"));
    EXPECT_EQ(items[1].name(), QStringLiteral("item"));
    EXPECT_EQ(firstText(doc, "//channel/title"), QStringLiteral("RDF Channel"));
    EXPECT_EQ(firstText(doc, "//item[link='http://example.org/2']/title"),
              QStringLiteral("Second"));
}

TEST(XmlDocumentSelect, PathsInUseFindTheirElementsInDocumentOrder) {
    XmlDocument doc = load("rss20.xml");
    EXPECT_EQ(doc.selectNodes("//channel").size(), 1u);
    EXPECT_EQ(doc.selectNodes("//channel//image").size(), 1u);
    EXPECT_EQ(firstText(doc, "//channel//image/url"),
              QStringLiteral("http://example.com/logo.png"));
    QStringList titles;
    for (const XmlNode& item : doc.selectNodes("//item"))
        titles << item.firstChildElement("title").text();
    EXPECT_EQ(titles, QStringList({"Alpha", "Beta", "Gamma"}));
    EXPECT_EQ(doc.selectNodes("/rss/channel/item").size(), 3u);
    EXPECT_EQ(doc.selectNodes("//root").size(), 0u);

    XmlDocument opml = load("nested-outlines.opml");
    EXPECT_EQ(attributeList(opml.selectNodes("//opml//outline"), "text"),
              QStringList({"Group A", "A1", "A2", "B"}));
}

TEST(XmlDocumentSelect, NestedMatchesComeOnceAndInDocumentOrder) {
    XmlDocument doc = load("nested-same-name.xml");
    EXPECT_EQ(attributeList(doc.selectNodes("//a"), "id"), QStringList({"1", "2", "3"}));
    EXPECT_EQ(attributeList(doc.selectNodes("//a//b"), "id"),
              QStringList({"b1", "b2", "b3", "b4"}));
    EXPECT_EQ(attributeList(doc.selectNodes("//a/b"), "id"), QStringList({"b1", "b2", "b3", "b4"}));
    // The same through libxml2's own evaluator (the predicate keeps it off the fast path).
    EXPECT_EQ(attributeList(doc.selectNodes("//a/b[true()]"), "id"),
              QStringList({"b1", "b2", "b3", "b4"}));
    EXPECT_EQ(attributeList(doc.selectNodes("//a[@id='1']/a/b"), "id"), QStringList({"b2"}));
}

TEST(XmlDocumentSelect, RelativePathsStartAtTheNode) {
    XmlDocument doc = load("rss20.xml");
    XmlNode channel = doc.selectNodes("//channel").front();
    EXPECT_EQ(channel.selectNodes("item").size(), 3u);
    EXPECT_EQ(channel.selectNodes("./item/title").size(), 3u);
    EXPECT_EQ(channel.selectNodes(".").front(), channel);
    EXPECT_EQ(channel.selectNodes("*").size(), 6u);
    EXPECT_EQ(channel.selectNodes("item[2]/title").front().text(), QStringLiteral("Beta"));
    EXPECT_EQ(channel.selectNodes("//rss").size(), 1u);
}

TEST(XmlDocumentSelect, OnlyElementsAreReturnedAndBadExpressionsGiveNothing) {
    XmlDocument doc = load("rss20.xml");
    EXPECT_TRUE(doc.selectNodes("//channel/@version").empty());
    EXPECT_TRUE(doc.selectNodes("//title/text()").empty());
    EXPECT_TRUE(doc.selectNodes("count(//item)").empty());
    EXPECT_TRUE(doc.selectNodes("//item[").empty());
    EXPECT_TRUE(doc.selectNodes("//x:item").empty());
    EXPECT_TRUE(doc.selectNodes("").empty());
    EXPECT_EQ(doc.selectNodes("//item[title='Beta' or title='Gamma']").size(), 2u);
    EXPECT_EQ(doc.selectNodes("//item | //image").size(), 4u);
    EXPECT_TRUE(XmlDocument().selectNodes("//item").empty());
}

// ---- building, saving ------------------------------------------------------------------

TEST(XmlNodeChildren, AppendInsertReplaceAndRemoveKeepTheOrder) {
    XmlDocument doc = XmlDocument::withRoot("root");
    XmlNode root = doc.documentElement();
    EXPECT_EQ(root.name(), QStringLiteral("root"));
    auto make = [&](const char* url) {
        XmlNode feed = doc.createElement("feed");
        feed.setAttribute("url", url);
        return feed;
    };
    XmlNode a = root.appendChild(make("a"));
    XmlNode c = root.appendChild(make("c"));
    XmlNode b = root.insertBefore(make("b"), c);
    root.insertBefore(make("d"), XmlNode());
    EXPECT_EQ(attributeList(root.childElements("feed"), "url"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(b.parent(), root);

    XmlNode old = root.replaceChild(make("B"), b);
    EXPECT_EQ(old, b);
    EXPECT_TRUE(old.parent().isNull());
    EXPECT_EQ(old.getAttribute("url"), QStringLiteral("b"));
    root.removeChild(a);
    EXPECT_EQ(attributeList(root.childElements(), "url"), QStringList({"B", "c", "d"}));

    // A detached node can go back in, and moving an attached node takes it out first.
    root.appendChild(old);
    root.insertBefore(root.childElements().back(), root.firstChildElement("feed"));
    EXPECT_EQ(attributeList(root.childElements(), "url"), QStringList({"b", "B", "c", "d"}));
    EXPECT_EQ(root.childNodes().size(), 4u);

    // Refused: a node inside itself, a child of another parent as reference.
    EXPECT_TRUE(c.appendChild(root).isNull());
    XmlNode other = doc.createElement("other");
    XmlNode inner = other.appendChild(doc.createElement("inner"));
    EXPECT_TRUE(root.insertBefore(make("x"), inner).isNull());
    EXPECT_EQ(root.childElements().size(), 4u);
}

TEST(XmlNodeChildren, NewElementsHaveNoNamespace) {
    XmlDocument doc = load("rss10.rdf");
    XmlNode channel = doc.selectNodes("//channel").front();
    channel.appendChild(doc.createElement("extra"));
    EXPECT_TRUE(doc.toBytes().contains("<extra/>"));
    EXPECT_EQ(doc.selectNodes("//channel/extra").size(), 1u);
}

TEST(XmlDocumentSave, SaveAndReloadKeepsOrderAndAttributeTexts) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rss_feeds.xml");
    XmlDocument doc =
        XmlDocument::parse("<root refresh='300000' body='font-family:arial;color:#000000'>"
                           "<feed headers='false' num='10' url='http://x/?a=1&amp;b=2'/>"
                           "<feed headers='true' num='10' url='http://y/'/></root>");
    ASSERT_FALSE(doc.isNull());
    XmlNode root = doc.documentElement();
    root.setAttribute("quote", "it's \"quoted\" <tag> & tab\there\nline");
    root.firstChildElement("feed").setAttribute("title", QString::fromUtf8("Café — 日本"));
    QString error;
    ASSERT_TRUE(doc.save(path, &error)) << error.toStdString();

    const QByteArray bytes = readFile(path);
    EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    // No re-indentation: the elements stay on one line as they came.
    EXPECT_TRUE(bytes.contains("<feed headers=\"true\" num=\"10\" url=\"http://y/\"/></root>"));

    XmlDocument again = XmlDocument::fromFile(path, &error);
    ASSERT_FALSE(again.isNull()) << error.toStdString();
    XmlNode root2 = again.documentElement();
    EXPECT_EQ(root2.getAttribute("quote"),
              QStringLiteral("it's \"quoted\" <tag> & tab\there\nline"));
    EXPECT_EQ(root2.getAttribute("body"), QStringLiteral("font-family:arial;color:#000000"));
    const auto feeds = root2.childElements("feed");
    ASSERT_EQ(feeds.size(), 2u);
    EXPECT_EQ(feeds[0].getAttribute("url"), QStringLiteral("http://x/?a=1&b=2"));
    EXPECT_EQ(feeds[0].getAttribute("title"), QString::fromUtf8("Café — 日本"));
    EXPECT_EQ(again.toBytes(), doc.toBytes());
}

TEST(XmlDocumentSave, AFailedSaveExplainsWhyAndLeavesTheOldFile) {
    QTemporaryDir dir;
    XmlDocument doc = XmlDocument::withRoot("root");
    QString error;

    const QString underMissing = dir.filePath("missing/rss_feeds.xml");
    EXPECT_FALSE(doc.save(underMissing, &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(underMissing))) << error.toStdString();

    ASSERT_TRUE(writeFile(dir.filePath("plainfile"), "x"));
    error.clear();
    EXPECT_FALSE(doc.save(dir.filePath("plainfile/rss_feeds.xml"), &error));
    EXPECT_FALSE(error.isEmpty());

    // A write that fails half way (the file size limit stands in for a full disk).
    const QString path = dir.filePath("rss_feeds.xml");
    ASSERT_TRUE(writeFile(path, "<root old='yes'/>"));
    XmlNode root = doc.documentElement();
    root.setAttribute("big", QString(4096, QChar(u'x')));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    error.clear();
    const bool saved1 = doc.save(path, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved1);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path), QByteArray("<root old='yes'/>"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

    EXPECT_FALSE(XmlDocument().save(path, &error));
    EXPECT_EQ(readFile(path), QByteArray("<root old='yes'/>"));
}

TEST(XmlDocumentMove, MovingTransfersOwnership) {
    XmlDocument a = XmlDocument::withRoot("root");
    a.createElement("loose"); // freed with the document, never attached
    XmlDocument b(std::move(a));
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(b.documentElement().name(), QStringLiteral("root"));
    a = std::move(b);
    EXPECT_FALSE(a.isNull());
    EXPECT_TRUE(b.documentElement().isNull());
}
