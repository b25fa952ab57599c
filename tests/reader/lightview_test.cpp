#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPrinter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

#include "reader/imageloader.h"
#include "reader/lightview.h"
#include "readerfixtures.h"
#include "refresh/pagemarkup.h"
#include "refresh/settings.h"

namespace quorvel {
namespace {

using namespace test;

// Every rule of the style block with a value of its own, so each can be told apart.
QString distinctStyleBlock() {
    Settings s;
    s.heading = "font-family:courier;font-size:20;color:#110000;font-weight:bold;font-style:normal;";
    s.link = "font-family:arial;font-size:13;color:#0000FF;font-weight:bold;font-style:normal;";
    s.visited = "color:#00AA00;font-weight:normal;font-style:normal;";
    s.hover = "color:#FF0000;font-weight:bold;font-style:italic;";
    s.body = "font-family:times;font-size:15;color:#222222;font-weight:normal;font-style:normal;"
             "background-color:#FFFFE0";
    s.bDate = "font-family:arial;font-size:9;color:#333333;font-weight:normal;font-style:italic";
    return buildStyleBlock(s);
}

QByteArray pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

struct LightViewTest : ::testing::Test {
    QTemporaryDir dir;
    QString page = dir.filePath("feeds.htm");
    std::unique_ptr<LightView> view;

    LightView& show(const QString& body, const PageViewContext& context = {}) {
        PageViewContext c = context;
        c.dataFolder = dir.path();
        EXPECT_TRUE(writeFile(page, "\xEF\xBB\xBF" + pageSkeleton(distinctStyleBlock(), body).toUtf8()));
        view = std::make_unique<LightView>(c);
        view->resize(295, 500);
        view->show();
        view->showFile(page);
        return *view;
    }

    // The document position of the first character of text.
    int positionOf(const QString& text) const {
        const QTextCursor found = view->document()->find(text);
        EXPECT_FALSE(found.isNull()) << text.toStdString();
        return found.selectionStart();
    }
    QTextCharFormat formatOf(const QString& text) const {
        QTextCursor cursor(view->document());
        cursor.setPosition(positionOf(text) + 1);
        return cursor.charFormat();
    }
    void click(const QString& text) {
        QTextCursor cursor(view->document());
        cursor.setPosition(positionOf(text) + 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->cursorRect(cursor).center());
    }
};

const QString linksBody =
    QString("<span class='heading'>Alpha</span><br /><a href='http://example.com/1'>first</a> ")+
    "<span class='bDate'>Mon, 7 Dec</span><p>plain body text</p>"
    "<a href='https://example.com/2'>second</a><br /><a href='mailto:someone@example.com'>mail</a>"
    "<br /><a href='file:///etc/hostname'>local</a><br /><a href='javascript:alert(1)'>script</a>"
    "<br /><a href='#far'>jump</a>" + QString("<p>filler</p>").repeated(300) +
    "<p><a name='far'>far</a></p>";

TEST_F(LightViewTest, EveryRuleOfTheStyleBlockReachesTheDocument) {
    LightView& v = show(linksBody);
    const QTextCharFormat heading = formatOf("Alpha");
    EXPECT_EQ(heading.foreground().color(), QColor("#110000"));
    EXPECT_EQ(heading.fontWeight(), QFont::Bold);
    EXPECT_EQ(heading.property(QTextFormat::FontPixelSize).toInt(), 20);
    EXPECT_TRUE(heading.fontFamilies().toStringList().contains("courier"));

    const QTextCharFormat link = formatOf("first");
    EXPECT_EQ(link.foreground().color(), QColor("#0000FF"));
    EXPECT_EQ(link.fontWeight(), QFont::Bold);
    EXPECT_EQ(link.property(QTextFormat::FontPixelSize).toInt(), 13);

    const QTextCharFormat date = formatOf("Mon, 7 Dec");
    EXPECT_TRUE(date.fontItalic());
    EXPECT_EQ(date.foreground().color(), QColor("#333333"));
    EXPECT_EQ(date.property(QTextFormat::FontPixelSize).toInt(), 9);

    const QTextCharFormat body = formatOf("plain body text");
    EXPECT_EQ(v.palette().text().color(), QColor("#222222"));
    EXPECT_EQ(body.property(QTextFormat::FontPixelSize).toInt(), 15);
    EXPECT_TRUE(body.fontFamilies().toStringList().contains("times"));
    EXPECT_FALSE(body.fontItalic());
    EXPECT_EQ(v.document()->rootFrame()->frameFormat().background().color(), QColor("#FFFFE0"));
    EXPECT_EQ(v.palette().base().color(), QColor("#FFFFE0"))
        << "the background fills the strip below the text too";

    // Hover: the rule's colour and style on the link under the mouse, and off again.
    v.hoverAt(positionOf("second") + 2);
    EXPECT_EQ(formatOf("second").foreground().color(), QColor("#FF0000"));
    EXPECT_TRUE(formatOf("second").fontItalic());
    EXPECT_EQ(formatOf("first").foreground().color(), QColor("#0000FF"));
    v.hoverAt(positionOf("plain body text"));
    EXPECT_EQ(formatOf("second").foreground().color(), QColor("#0000FF"));
    EXPECT_FALSE(formatOf("second").fontItalic());
    EXPECT_EQ(formatOf("second").property(QTextFormat::FontPixelSize).toInt(), 13);
}

TEST_F(LightViewTest, LinksGoToTheDesktopOnlyForWebAndMailAnchorsScrollVisitedPersists) {
    DesktopCatcher desktop({"http", "https", "mailto", "file", "javascript"});
    LightView& v = show(linksBody);
    for (const char* text : {"first", "mail", "local", "script"})
        click(text);
    EXPECT_EQ(desktop.opened,
              QList<QUrl>({QUrl("http://example.com/1"), QUrl("mailto:someone@example.com")}));
    EXPECT_EQ(v.verticalScrollBar()->value(), 0);
    click("jump");
    EXPECT_GT(v.verticalScrollBar()->value(), 1000) << "the in-page anchor scrolls";
    EXPECT_EQ(desktop.opened.size(), 2);

    // Opened links take the visited rule at once, and again after a restart.
    EXPECT_EQ(formatOf("first").foreground().color(), QColor("#00AA00"));
    EXPECT_EQ(formatOf("first").fontWeight(), QFont::Normal);
    EXPECT_EQ(formatOf("second").foreground().color(), QColor("#0000FF"));
    const QByteArray saved = readFile(dir.filePath("visited.txt"));
    EXPECT_EQ(saved, "http://example.com/1\nmailto:someone@example.com\n");
    EXPECT_EQ(QFile(dir.filePath("visited.txt")).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);

    show(linksBody);
    EXPECT_EQ(formatOf("first").foreground().color(), QColor("#00AA00"));
    EXPECT_EQ(formatOf("mail").foreground().color(), QColor("#00AA00"));
    EXPECT_EQ(formatOf("second").foreground().color(), QColor("#0000FF"));
}

TEST_F(LightViewTest, ThePageLaysOutAsInABrowserAndFitsTheStrip) {
    const QString longWord(400, 'w');
    LightView& v = show("<span class='heading'>One</span><br /><p>text one</p><br /><br /><hr>"
                        "<a name='Two'></a><span class='heading'>Two</span><br /><span class='bDate'>date</span>"
                        "<p>" + longWord + "</p><pre>" + QString(300, 'p') +
                        "</pre><img width='600' height='300' src='data:image/png;base64," +
                        QString::fromLatin1(pngBytes(600, 300).toBase64()) + "'>"
                        "<table><tr><td>" + longWord + "</td></tr></table>");
    const QTextBlock two = v.document()->findBlock(positionOf("Two"));
    EXPECT_FALSE(two.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth))
        << "the rule would be drawn below the text that follows it";
    EXPECT_TRUE(two.previous().blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth));
    EXPECT_EQ(two.previous().length(), 1);
    // The break right before the paragraph and the last one before the rule leave no line.
    EXPECT_EQ(v.document()->findBlock(positionOf("One")).text(), "One");
    EXPECT_EQ(v.document()->findBlock(positionOf("text one")).next().text(), QString(QChar::LineSeparator));

    ASSERT_TRUE(waitUntil([&] { return v.images().pendingCount() == 0; }, 5000));
    QTest::qWait(50);
    EXPECT_LE(v.document()->size().width(), v.viewport()->width());
    EXPECT_FALSE(v.horizontalScrollBar()->isVisible());
    bool sawImage = false;
    for (QTextBlock block = v.document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) {
                const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
                EXPECT_LT(image.width(), 295);
                EXPECT_NEAR(image.height(), image.width() / 2, 2) << "the aspect stays";
                sawImage = true;
            }
    EXPECT_TRUE(sawImage);
}

TEST_F(LightViewTest, ALongFirstPageShowsItsHeadFirstAndTheWholePageOnceDrawn) {
    QString body;
    for (int i = 0; i < 400; ++i)
        body += QString("<a href='http://example.com/%1'>Headline %1</a><br /><span class='bDate'>"
                        "date</span><p>Some words of item %1 that wrap over a line or two.</p>").arg(i);
    ASSERT_TRUE(writeFile(page, pageSkeleton(distinctStyleBlock(), body).toUtf8()));
    for (const bool drawn : {true, false}) {
        SCOPED_TRACE(drawn ? "shown" : "hidden");
        PageViewContext context;
        context.dataFolder = dir.path();
        view = std::make_unique<LightView>(context);
        view->resize(295, 500);
        QSignalSpy shown(view.get(), &LightView::pageShown);
        view->showFile(page);
        // The head, styled as the whole page will be; the rest is not built yet.
        EXPECT_EQ(formatOf("Headline 0").foreground().color(), QColor("#0000FF"));
        EXPECT_EQ(formatOf("Headline 0").property(QTextFormat::FontPixelSize).toInt(), 13);
        EXPECT_TRUE(view->document()->find("Headline 399").isNull());
        EXPECT_EQ(shown.count(), 0);
        if (drawn)
            view->show();
        ASSERT_TRUE(waitUntil([&] { return shown.count() == 1; }, 5000));
        EXPECT_EQ(formatOf("Headline 399").foreground().color(), QColor("#0000FF"));
        EXPECT_EQ(formatOf("Headline 399").anchorHref(), "http://example.com/399");
        view->hoverAt(positionOf("Headline 399") + 1);
        EXPECT_EQ(formatOf("Headline 399").foreground().color(), QColor("#FF0000"))
            << "the links of the whole page are known";
        // Any later page is built whole at once.
        view->showFile(page);
        EXPECT_EQ(shown.count(), 2);
        EXPECT_FALSE(view->document()->find("Headline 399").isNull());
    }
}

TEST(VisitedLinksTest, KeepsTheNewestEntriesAndIgnoresOversizedOnes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("visited.txt");
    QByteArray planted;
    for (int i = 0; i < VisitedLinks::maxEntries + 5; ++i)
        planted += "http://example.com/" + QByteArray::number(i) + "\n";
    planted += "http://example.com/" + QByteArray(VisitedLinks::maxUrlLength, 'x') + "\n";
    ASSERT_TRUE(writeFile(path, planted));
    {
        VisitedLinks links(path);
        EXPECT_EQ(links.size(), VisitedLinks::maxEntries);
        EXPECT_FALSE(links.contains(QUrl("http://example.com/4")));
        EXPECT_TRUE(links.contains(QUrl("http://example.com/5")));
        EXPECT_TRUE(links.add(QUrl("http://example.com/" + QString(VisitedLinks::maxUrlLength, 'y'))));
        EXPECT_TRUE(links.add(QUrl("http://example.com/7#part"))); // seen again: the newest now
        EXPECT_TRUE(links.add(QUrl("http://example.com/new")));    // pushes the oldest out
    }
    EXPECT_EQ(readFile(path).count('\n'), VisitedLinks::maxEntries) << "the file stays bounded";
    VisitedLinks reread(path);
    EXPECT_EQ(reread.size(), VisitedLinks::maxEntries);
    EXPECT_FALSE(reread.contains(QUrl("http://example.com/5")));
    EXPECT_TRUE(reread.contains(QUrl("http://example.com/6#other")));
    EXPECT_TRUE(reread.contains(QUrl("http://example.com/new")));
    EXPECT_TRUE(readFile(path).endsWith("http://example.com/7\nhttp://example.com/new\n"));
}

TEST_F(LightViewTest, PrintsTextAsTextToAPdf) {
    LightView& v = show(linksBody);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("page.pdf"));
    bool ok = false;
    v.print(&printer, [&](bool result) { ok = result; });
    EXPECT_TRUE(ok) << "printed, and said so before returning";
    const QByteArray pdf = readFile(dir.filePath("page.pdf"));
    EXPECT_TRUE(pdf.contains("/FontFile")) << "the text is drawn with fonts, not as a picture";
    EXPECT_FALSE(pdf.contains("/Subtype /Image"));
    EXPECT_LT(pdf.size(), 1024 * 1024);
}

// The image fetcher: images over http(s) only, within limits, never anything else.
struct ImageFetchTest : ::testing::Test {
    LoopbackServer server;
    std::unique_ptr<ImageLoader> loader;

    void SetUp() override {
        FetchLimits limits = PageViewContext::defaultImageLimits();
        limits.totalTimeoutMs = 4000;
        loader = std::make_unique<ImageLoader>(std::make_unique<CurlFetcher>(limits), 4 << 20);
    }
    bool finish(const QStringList& paths) {
        for (const QString& path : paths)
            loader->request(QUrl(server.url(path)));
        return waitUntil([&] { return loader->pendingCount() == 0; }, 15000);
    }
    const QImage* image(const QString& path) { return loader->image(QUrl(server.url(path))); }
    bool failed(const QString& path) { return loader->hasFailed(QUrl(server.url(path))); }
};

TEST_F(ImageFetchTest, OnlyImagesWithinTheLimits) {
    const QByteArray png = pngBytes(2000, 40);
    Response good = served(png);
    good.contentType = "image/png";
    server.setRoute("/good.png", good);
    Response untyped = good;
    untyped.contentType = "application/octet-stream";
    server.setRoute("/untyped", untyped);
    Response html = served("<html><body>not an image</body></html>");
    html.contentType = "text/html";
    server.setRoute("/page.png", html);
    Response disguised = served(png);
    disguised.contentType = "text/html";
    server.setRoute("/disguised.png", disguised);
    Response lie = served("GIF89a but not really");
    lie.contentType = "image/gif";
    server.setRoute("/lie.gif", lie);
    Response huge = served(png);
    huge.contentType = "image/png";
    huge.repeatedTo = 50 * 1024 * 1024;
    server.setRoute("/huge.png", huge);

    ASSERT_TRUE(
        finish({"/good.png", "/untyped", "/page.png", "/disguised.png", "/lie.gif", "/huge.png"}));
    ASSERT_TRUE(image("/good.png"));
    EXPECT_EQ(image("/good.png")->width(), ImageLoader::maxDecodeWidth) << "decoded scaled down";
    EXPECT_EQ(image("/good.png")->height(), 20);
    EXPECT_TRUE(image("/untyped"));
    for (const char* path : {"/page.png", "/disguised.png", "/lie.gif", "/huge.png"}) {
        EXPECT_TRUE(failed(path)) << path;
        EXPECT_FALSE(image(path)) << path;
    }
    EXPECT_TRUE(loader->failure(QUrl(server.url("/huge.png"))).contains("large"))
        << loader->failure(QUrl(server.url("/huge.png"))).toStdString();

    // Asked again: neither the cached image nor a failed one goes to the network again.
    const int before = server.totalRequests();
    finish({"/good.png", "/page.png"});
    loader->request(QUrl("file:///etc/hostname"));
    loader->request(QUrl("ftp://example.com/x.png"));
    EXPECT_EQ(server.totalRequests(), before);
    EXPECT_TRUE(loader->hasFailed(QUrl("file:///etc/hostname")));
}

TEST_F(LightViewTest, ImagesComeFromTheFetcherOnlyAndShowWhenTheyArrive) {
    LoopbackServer server;
    Response image = served(pngBytes(50, 30));
    image.contentType = "image/png";
    image.delayMs = 300;
    server.setRoute("/web.png", image);
    writeFile(dir.filePath("local.png"), pngBytes(10, 10));
    writeFile(dir.filePath("sheet.css"), "body{color:#00FF00}");
    LightView& v = show("<p>x</p><img src='local.png'><img src='file://" +
                        dir.filePath("local.png") + "'><img src='" + server.url("/web.png") +
                        "'><img src='" + server.url("/web.png") +
                        "'><link rel='stylesheet' href='sheet.css'>");
    ASSERT_TRUE(waitUntil([&] { return v.images().image(QUrl(server.url("/web.png"))); }))
        << v.images().failure(QUrl(server.url("/web.png"))).toStdString();
    EXPECT_EQ(server.requestCount("/web.png"), 1) << "one fetch for both places";
    EXPECT_EQ(server.totalRequests(), 1);
    EXPECT_TRUE(v.document()->resource(QTextDocument::ImageResource, QUrl(server.url("/web.png"))).isValid());
    for (const QString& local : {dir.filePath("local.png"), QString("local.png")})
        EXPECT_EQ(v.document()->resource(QTextDocument::ImageResource, QUrl(local)).value<QImage>().size(),
                  QSize(1, 1)) << "a local image stays out: " << local.toStdString();
    EXPECT_FALSE(formatOf("x").foreground().color() == QColor("#00FF00")) << "no style sheet was read";
}

} // namespace
} // namespace quorvel
