#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <QImage>
#include <QWebEngineScript>

#include "loopbackserver.h"
#include "reader/feedpage.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using test::spin;
using test::waitUntil;

// Links stacked down the left edge, 40 px apart, so a click at (60, 15 + 40 * i) hits link i.
const char* const pageHtml = R"(<html><head><title>feeds</title><style>
body { margin: 0 } a.row { position: absolute; left: 0; width: 290px; height: 30px; display: block }
</style></head><body>
<a class="row" style="top:0" href="http://example.com/plain">plain</a>
<a class="row" style="top:40px" href="https://example.com/blank" target="_blank">blank</a>
<a class="row" style="top:80px" href="mailto:someone@example.com">mail</a>
<a class="row" style="top:120px" href="#far">anchor</a>
<a class="row" style="top:160px" href="file:///etc/hostname">file</a>
<a class="row" style="top:200px" href="javascript:document.title='ran'">script link</a>
<div style="height:6000px"></div><a name="far" id="far">far down</a>
<script>document.title = 'script ran';</script>
</body></html>)";

TEST(FeedViewTest, WebAndMailLinksGoToTheDesktopAnchorsStayAndNothingElseLoadsOrRuns) {
    QTemporaryDir dir;
    const QString path = dir.filePath("feeds.htm");
    ASSERT_TRUE(test::writeFile(path, pageHtml));
    test::DesktopCatcher desktop({"http", "https", "mailto", "file"});
    QWebEngineView view;
    auto* page = new FeedPage(&view);
    view.setPage(page);
    view.resize(295, 600);
    view.show();
    int loaded = 0;
    QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool ok) { loaded += ok; });
    page->showFile(path);
    ASSERT_TRUE(waitUntil([&] { return loaded > 0 && view.focusProxy() != nullptr; }));
    const auto clickRow = [&](int row) {
        QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(60, 15 + 40 * row));
    };

    for (int row : {0, 1, 2, 4, 5}) // web, new-window web, mail, file:, javascript:
        clickRow(row);
    ASSERT_TRUE(waitUntil([&] { return desktop.opened.size() >= 3; }));
    spin(500);
    EXPECT_EQ(desktop.opened,
              QList<QUrl>({QUrl("http://example.com/plain"), QUrl("https://example.com/blank"),
                           QUrl("mailto:someone@example.com")}));
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(loaded, 1) << "the view left feeds.htm";
    EXPECT_EQ(page->title(), "feeds") << "a script ran";

    clickRow(3);
    EXPECT_TRUE(waitUntil([&] { return page->scrollPosition().y() > 1000; }, 5000));
    EXPECT_EQ(desktop.opened.size(), 3);
}

TEST(FeedViewTest, HostileMarkupInThePageDoesNothingItAsksButWebImagesLoad) {
    QTemporaryDir dir;
    QImage(40, 30, QImage::Format_RGB32).save(dir.filePath("local.png"));
    test::LoopbackServer server;
    QFile png(dir.filePath("local.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    test::Response image = test::served(png.readAll());
    image.contentType = "image/png";
    server.setRoute("/web.png", image);
    const QString html =
        "<html><head><title>feeds</title><meta http-equiv='refresh' content='0;url=" +
        server.url("/refreshed") + "'><link rel='stylesheet' href='" + server.url("/sheet.css") +
        "'><script src='" + server.url("/code.js") + "'></script></head><body>"
        "<script>document.title = 'script ran';</script><iframe src='" + server.url("/frame") +
        "'></iframe><img id='local' src='" + QUrl::fromLocalFile(dir.filePath("local.png")).toString() +
        "'><img id='web' src='" + server.url("/web.png") + "'><object data='" +
        server.url("/object") + "'></object></body></html>";
    const QString path = dir.filePath("feeds.htm");
    ASSERT_TRUE(test::writeFile(path, html.toUtf8()));
    QWebEngineView view;
    auto* page = new FeedPage(&view);
    view.setPage(page);
    view.resize(295, 600);
    view.show();
    int loaded = 0;
    QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool ok) { loaded += ok; });
    page->showFile(path);
    ASSERT_TRUE(waitUntil([&] { return loaded > 0 && server.requestCount("/web.png") > 0; }));
    spin(1500);

    EXPECT_EQ(server.totalRequests(), server.requestCount("/web.png"))
        << "only the web image was asked for";
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(page->title(), "feeds");
    // Scripts of the program's own (not the page's) still run: they read what loaded.
    QVariant widths;
    page->runJavaScript("[document.getElementById('local').naturalWidth,"
                        " document.getElementById('web').naturalWidth].join()",
                        QWebEngineScript::ApplicationWorld, [&](const QVariant& v) { widths = v; });
    ASSERT_TRUE(waitUntil([&] { return widths.isValid(); }, 5000));
    EXPECT_EQ(widths.toString(), "0,40") << "the local image stays out, the web one shows";
}

} // namespace
} // namespace quorvel
