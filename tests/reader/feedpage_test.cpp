#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

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

} // namespace
} // namespace quorvel
