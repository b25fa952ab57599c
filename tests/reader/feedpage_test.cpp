#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "reader/feedpage.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

// Links 40 px apart (a click at (60, 15 + 40 * i) hits link i) over markup that would load or
// run things if the page let it. SERVER is the test server; local.png lies beside the page.
const char* const pageHtml = R"(<html><head><title>feeds</title><style>
body { margin: 0 } a.row { position: absolute; left: 0; width: 290px; height: 30px; display: block }
</style><meta http-equiv='refresh' content='0;url=SERVER/refreshed'>
<link rel='stylesheet' href='SERVER/sheet.css'><script src='SERVER/code.js'></script></head><body>
<a class="row" style="top:0" href="http://example.com/plain">plain</a>
<a class="row" style="top:40px" href="https://example.com/blank" target="_blank">blank</a>
<a class="row" style="top:80px" href="mailto:someone@example.com">mail</a>
<a class="row" style="top:120px" href="#far">anchor</a>
<a class="row" style="top:160px" href="file:///etc/hostname">file</a>
<a class="row" style="top:200px" href="javascript:document.title='ran'">script link</a>
<script>document.title = 'script ran';</script><iframe src='SERVER/frame'></iframe>
<img id='local' src='local.png'><img id='web' src='SERVER/web.png'><object data='SERVER/object'>
</object><div style='height:6000px'></div><a name='far' id='far'>far</a></body></html>)";

TEST(FeedViewTest, LinksGoToTheDesktopAnchorsStayAndThePageRunsNothingAndLoadsOnlyWebImages) {
    QTemporaryDir dir;
    const QString localImage = dir.filePath("local.png");
    ASSERT_TRUE(QImage(40, 30, QImage::Format_RGB32).save(localImage));
    LoopbackServer server;
    Response image = served(readFile(localImage));
    image.contentType = "image/png";
    server.setRoute("/web.png", image);
    const QString path = dir.filePath("feeds.htm");
    ASSERT_TRUE(writeFile(path, QString(pageHtml).replace("SERVER", server.url("")).toUtf8()));
    DesktopCatcher desktop({"http", "https", "mailto", "file"});

    QWebEngineView view;
    auto* page = new FeedPage(&view);
    view.setPage(page);
    view.resize(295, 600);
    view.show();
    int loaded = 0; // pages that finished loading; refused navigations finish with false
    QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool ok) { loaded += ok; });
    page->showFile(path);
    ASSERT_TRUE(waitUntil(
        [&] { return loaded > 0 && view.focusProxy() && server.requestCount("/web.png") > 0; }));
    const auto clickRow = [&](int row) {
        QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(60, 15 + 40 * row));
    };
    for (int row : {0, 1, 2, 4, 5}) // web, new-window web, mail, file:, javascript:
        clickRow(row);
    ASSERT_TRUE(waitUntil([&] { return desktop.opened.size() >= 3; }));
    QTest::qWait(1500);
    EXPECT_EQ(desktop.opened,
              QList<QUrl>({QUrl("http://example.com/plain"), QUrl("https://example.com/blank"),
                           QUrl("mailto:someone@example.com")}));
    EXPECT_EQ(server.totalRequests(), server.requestCount("/web.png"))
        << "only the web image was asked for";
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(loaded, 1) << "the view left feeds.htm";
    EXPECT_EQ(page->title(), "feeds") << "a script ran";

    // Scripts of the program's own (not the page's) still run: they read what loaded.
    QVariant widths;
    page->runJavaScript("[document.getElementById('local').naturalWidth,"
                        " document.getElementById('web').naturalWidth].join()",
                        QWebEngineScript::ApplicationWorld, [&](const QVariant& v) { widths = v; });
    ASSERT_TRUE(waitUntil([&] { return widths.isValid(); }, 5000));
    EXPECT_EQ(widths.toString(), "0,40") << "the local image stays out, the web one shows";

    clickRow(3);
    EXPECT_TRUE(waitUntil([&] { return page->scrollPosition().y() > 1000; }, 5000));
    EXPECT_EQ(desktop.opened.size(), 3);
}

} // namespace
} // namespace quorvel
