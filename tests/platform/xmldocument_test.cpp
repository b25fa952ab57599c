#include "platform/xmldocument.h"

#include <csignal>
#include <sys/resource.h>
#include <tuple>

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include "testfiles.h"

using namespace quorvel;
using test::readFile;
using test::writeFile;

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

} // namespace

TEST(XmlDocument, FailuresNameTheLineOrTheFileAndTheReason) {
    QString error;
    EXPECT_TRUE(XmlDocument::fromFile(dataPath("malformed-tag-mismatch.xml"), &error).isNull());
    EXPECT_TRUE(error.contains("line 3: Opening and ending tag mismatch")) << error.toStdString();
    EXPECT_TRUE(error.contains("malformed-tag-mismatch.xml"));
    EXPECT_FALSE(XmlDocument::parse("<a/>", &error).isNull());
    EXPECT_TRUE(error.isEmpty()) << "success clears a stale reason";
    const QString missing = QDir::temp().filePath("quorvel-nowhere.xml");
    EXPECT_TRUE(XmlDocument::fromFile(missing, &error).isNull());
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(missing))) << error.toStdString();
}

TEST(XmlDocument, HtmlEntitiesResolveButDeclaredOnesAreNeverExpanded) {
    XmlDocument doc = load("html-entities.xml");
    EXPECT_EQ(firstText(doc, "//channel/title"), QString::fromUtf8("Café\u00A0Noir — © 2024"));
    EXPECT_EQ(doc.selectNodes("//image").front().getAttribute("alt"), "café & crème");
    EXPECT_EQ(firstText(doc, "//item/title"), "&nbsp; stays literal") << "CDATA is literal";
    EXPECT_EQ(firstText(load("html-entities-with-dtd.xml"), "//channel/title"), "Façade…");

    doc = load("declared-entity.xml");
    EXPECT_EQ(firstText(doc, "//t"), "beforeafter");
    EXPECT_EQ(firstText(doc, "//u"), "ab") << "a declaration wins over the HTML name";
    EXPECT_EQ(doc.documentElement().getAttribute("note"), "xy");
}

TEST(XmlDocument, ExternalEntitiesAndDtdsAreNeverRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.filePath("secret.txt"), "TOP-SECRET-CONTENT"));
    ASSERT_TRUE(writeFile(dir.filePath("defs.dtd"), "<!ENTITY leak 'TOP-SECRET-DTD'>"));
    const QByteArray secret = QUrl::fromLocalFile(dir.filePath("secret.txt")).toEncoded();
    const QByteArray dtd = QUrl::fromLocalFile(dir.filePath("defs.dtd")).toEncoded();

    XmlDocument doc =
        XmlDocument::parse("<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]><r>a&x;b</r>");
    ASSERT_FALSE(doc.isNull());
    EXPECT_EQ(doc.documentElement().text(), "ab");
    for (const QByteArray& viaDtd :
         {"<!DOCTYPE r SYSTEM \"" + dtd + "\"><r>a&leak;b</r>",
          "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><r>&leak;</r>"})
        EXPECT_FALSE(XmlDocument::parse(viaDtd).toBytes().contains("TOP-SECRET")) << viaDtd.data();
}

TEST(XmlDocument, BadUtf8BecomesReplacementCharactersAndLegacyEncodingsDecode) {
    XmlDocument doc = load("invalid-utf8.xml");
    const QString fffd(QChar(0xFFFD));
    EXPECT_EQ(firstText(doc, "//t"), "a" + fffd + "b" + fffd);
    EXPECT_EQ(firstText(doc, "//u"), fffd + "x" + fffd + "y") << "truncated, overlong: one each";
    EXPECT_EQ(doc.selectNodes("//v").front().getAttribute("attr"), fffd);

    // The server's charset reads a document that states none; a declaration or a byte-order
    // mark wins over it, and an unknown charset changes nothing. As in browsers, Latin-1 and
    // ASCII labels read as windows-1252, whose unassigned bytes stay as C1 controls.
    const QByteArray cp1252 = "'?><t>\x93"
                              "caf\xE9\x94 \x8D</t>";
    const QString quoted = QString::fromUtf8("“café” \u008D");
    const std::tuple<QByteArray, const char*, QString> cases[] = {
        {"<t>caf\xE9</t>", "ISO-8859-1", "café"},
        {"<t>caf\xE9</t>", "x-unknown", "caf" + fffd},
        {"<t>caf\xE9</t>", nullptr, "caf" + fffd},
        {"<?xml version='1.0' encoding='utf-8'?><t>caf\xC3\xA9</t>", "ISO-8859-1", "café"},
        {"\xEF\xBB\xBF<t>caf\xC3\xA9</t>", "windows-1252", "café"},
        {"<?xml version='1.0' encoding='windows-1252" + cp1252, nullptr, quoted},
        {"<?xml version='1.0' encoding='ISO-8859-1" + cp1252, nullptr, quoted},
        {"<?xml version='1.0' encoding='us-ascii" + cp1252, nullptr, quoted},
    };
    for (const auto& [bytes, charset, text] : cases)
        EXPECT_EQ(firstText(XmlDocument::parse(bytes, nullptr, charset), "//t"), text)
            << bytes.data();
    // A conversion failure is the document's error, not a message on the terminal.
    testing::internal::CaptureStderr();
    QString error;
    EXPECT_TRUE(XmlDocument::parse("<t>\x8E\xFF\xFF</t>", &error, "EUC-JP").isNull());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(error.isEmpty());
}

TEST(XmlDocument, AnInvalidByteIsFoundWhereverItLiesInALongAsciiRun) {
    for (int at = 0; at < 17; ++at) {
        const QByteArray text = QByteArray(at, 'a') + "\xff" + QByteArray(20, 'b');
        XmlDocument doc = XmlDocument::parse("<r>" + text + "</r>");
        ASSERT_FALSE(doc.isNull()) << at;
        EXPECT_EQ(doc.documentElement().text(),
                  QString(at, u'a') + QChar(0xFFFD) + QString(20, u'b')) << at;
    }
}

TEST(XmlDocument, TextIsTrimmedAndAMissingAttributeDiffersFromAnEmptyOne) {
    const XmlDocument doc = XmlDocument::parse(
        "<r url=''>\n  <a> one <b>two</b><![CDATA[ <three> ]]><!-- no --><?pi no?>\n</a>\t</r>");
    const XmlNode root = doc.documentElement();
    EXPECT_EQ(root.text(), "one two <three>");
    EXPECT_EQ(root.getAttribute("url"), QString(""));
    EXPECT_FALSE(root.getAttribute("disabled").has_value());
    EXPECT_EQ(firstText(load("rss20.xml"), "//item/description"), "<p>Alpha <b>text</b></p>");
}

TEST(XmlDocument, PathsFindElementsOnceInDocumentOrderIncludingTheDefaultNamespace) {
    const XmlDocument rdf = load("rss10.rdf");
    const auto items = rdf.selectNodes("//item/title");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].text(), "Second");
    const XmlDocument nested = load("nested-same-name.xml");
    EXPECT_EQ(attributeList(nested.selectNodes("//a"), "id"), QStringList({"1", "2", "3"}));
    EXPECT_EQ(attributeList(nested.selectNodes("//a//b"), "id"),
              QStringList({"b1", "b2", "b3", "b4"}));

    const XmlDocument rss = load("rss20.xml");
    EXPECT_EQ(rss.selectNodes("//channel").front().selectNodes("item[2]/title").front().text(),
              "Beta");
    for (const char* nothing : {"//channel/@version", "//title/text()", "count(//item)", "//item["})
        EXPECT_TRUE(rss.selectNodes(nothing).empty()) << nothing;
}

// Removing and moving entries are checked through the feed list operations.
TEST(XmlDocument, ChildOperationsKeepTheOrderAndNeverPutANodeInsideItself) {
    XmlDocument doc = XmlDocument::parse("<root><c/></root>");
    XmlNode root = doc.documentElement();
    XmlNode c = root.firstChildElement("c");
    root.insertBefore(doc.createElement("b"), c);
    root.insertBefore(doc.createElement("d"), XmlNode());
    EXPECT_TRUE(doc.toBytes().contains("<root><b/><c/><d/></root>")) << doc.toBytes().data();
    EXPECT_TRUE(c.appendChild(root).isNull());
}

// A failed save explains why and leaves the old file as it was.
TEST(XmlDocument, SaveAndReloadKeepsOrderAndAttributeTextsAndAFailedSaveChangesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rss_feeds.xml");
    XmlDocument doc =
        XmlDocument::parse("<root><feed num='10' url='http://127.0.0.20/?a=1&amp;b=2'/>"
                           "<feed headers='true' num='10' url='http://127.0.0.24/'/></root>");
    const QString quoted = "it's \"quoted\" <tag> & tab\there\nline";
    doc.documentElement().setAttribute("quote", quoted);
    const QString unicode = QString::fromUtf8("Café — 日本");
    doc.documentElement().firstChildElement("feed").setAttribute("num", unicode);
    QString error;
    ASSERT_TRUE(doc.save(path, &error)) << error.toStdString();
    const QByteArray onDisk = readFile(path);
    EXPECT_TRUE(onDisk.contains("<feed headers=\"true\" num=\"10\" url=\"http://127.0.0.24/\"/>"));

    const XmlDocument again = XmlDocument::fromFile(path, &error);
    ASSERT_FALSE(again.isNull()) << error.toStdString();
    EXPECT_EQ(again.documentElement().getAttribute("quote"), quoted);
    const XmlNode first = again.documentElement().firstChildElement("feed");
    EXPECT_EQ(first.getAttribute("url"), "http://127.0.0.20/?a=1&b=2");
    EXPECT_EQ(first.getAttribute("num"), unicode);
    EXPECT_EQ(again.toBytes(), doc.toBytes());

    const QString underMissing = dir.filePath("missing/rss_feeds.xml");
    EXPECT_FALSE(doc.save(underMissing, &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(underMissing))) << error.toStdString();
    // A write that fails half way (the file size limit stands in for a full disk).
    doc.documentElement().setAttribute("big", QString(4096, QChar(u'x')));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = doc.save(path, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path), onDisk);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no leftovers";
}

namespace {

// Writes the events it is given as text: "<name a=value>" for a start tag (the attributes
// it is told to look up), the characters, "/" for an end.
class EventLog : public XmlStreamReader {
public:
    explicit EventLog(std::vector<const char*> attributes = {}, int stopAfterEnds = -1)
        : m_attributes(std::move(attributes)), m_endsLeft(stopAfterEnds) {
        takesText = true;
    }
    void startElement(const XmlStartTag& tag) override {
        log += '<';
        log += tag.localName();
        std::string value;
        for (const char* name : m_attributes)
            if (tag.attribute(name, &value))
                log += ' ' + std::string(name) + '=' + value;
        log += '>';
    }
    void endElement() override {
        log += '/';
        --m_endsLeft;
    }
    void characters(const char* utf8, int length) override { log.append(utf8, std::size_t(length)); }
    bool stopped() const override { return m_endsLeft == 0; }

    std::string log;

private:
    std::vector<const char*> m_attributes;
    int m_endsLeft;
};

std::string streamed(const QByteArray& xml, std::vector<const char*> attributes = {}) {
    EventLog log(std::move(attributes));
    QString error;
    EXPECT_TRUE(XmlDocument::stream(xml, XmlParseOptions(), &log, &error)) << error.toStdString();
    return log.log;
}

} // namespace

TEST(XmlStream, EventsCarryWhatTheTreeWouldAndNothingMore) {
    // Entities as the tree reads them: HTML names resolved in text and attributes, a
    // document's own entities and external ones never expanded, CDATA literal.
    EXPECT_EQ(streamed(readFile(dataPath("html-entities.xml")), {"alt"}),
              "<rss>\n<channel>\n<title>Café\u00A0Noir — © 2024/\n<image alt=café & crème>/\n"
              "<item><title>&nbsp; stays literal//\n/\n/");
    EXPECT_EQ(streamed(readFile(dataPath("declared-entity.xml")), {"note"}),
              "<r note=xy><t>beforeafter/<u>ab//");
    EXPECT_EQ(streamed("<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>a&x;b</r>"),
              "<r>ab/");
    EXPECT_EQ(streamed("<r><!--c-->a<?pi x?>b</r>"), "<r>ab/") << "no comments, no PIs";

    // A plain name prefers the attribute without a prefix; "prefix:name" asks for that one.
    EXPECT_EQ(streamed("<r xmlns:p='urn:p' p:a='1' a='2' p:b='3' xml:base='4'/>",
                       {"a", "p:a", "b", "xml:base", "c"}),
              "<r a=2 p:a=1 b=3 xml:base=4>/");
}

TEST(XmlStream, TextOnlyWhenTakenAndAStopOrDamageFailsTheRead) {
    EventLog quiet;
    quiet.takesText = false;
    ASSERT_TRUE(XmlDocument::stream("<a>x<b>y</b></a>", XmlParseOptions(), &quiet));
    EXPECT_EQ(quiet.log, "<a><b>//");

    EventLog stopping({}, 1);
    QString error;
    EXPECT_FALSE(XmlDocument::stream("<a><b/><c/></a>", XmlParseOptions(), &stopping, &error));
    EXPECT_EQ(stopping.log, "<a><b>/");
    EXPECT_EQ(error, "stopped");

    EventLog damaged;
    EXPECT_FALSE(XmlDocument::stream("<a><b>x</a>", XmlParseOptions(), &damaged, &error));
    EXPECT_TRUE(error.startsWith("line 1:")) << error.toStdString();
    XmlParseOptions recover;
    recover.recover = true;
    EventLog recovered;
    EXPECT_TRUE(XmlDocument::stream("<a><b>x</a>", recover, &recovered));
    EXPECT_EQ(recovered.log.substr(0, 7), "<a><b>x");
    EXPECT_FALSE(XmlDocument::stream("no markup", recover, &recovered));
}

namespace {

class StartTagXml : public XmlStreamReader {
public:
    void startElement(const XmlStartTag& tag) override {
        if (xml.empty())
            tag.appendXml(&xml);
    }
    void endElement() override {}
    void characters(const char*, int) override {}
    std::string xml;
};

} // namespace

TEST(XmlStream, AStartTagWritesBackAsXmlWithItsNamespacesAndEscapedValues) {
    StartTagXml tag;
    ASSERT_TRUE(XmlDocument::stream(
        "<p:e xmlns:p='urn:p' xmlns='urn:d' a='1 &amp; &lt;2&gt; \"q\"' p:b='&#10;&#9;&#13;&eacute;'/>",
        XmlParseOptions(), &tag));
    EXPECT_EQ(tag.xml, "<p:e xmlns:p=\"urn:p\" xmlns=\"urn:d\" a=\"1 &amp; &lt;2&gt; &quot;q&quot;\" "
                       "p:b=\"&#10;&#9;&#13;é\"");
}
