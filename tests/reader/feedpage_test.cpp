#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include "reader/feedpage.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using test::DesktopCatcher;
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

class FeedViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("feeds.htm");
        ASSERT_TRUE(test::writeFile(path, pageHtml));
        page = new FeedPage(&view);
        view.setPage(page);
        view.setContextMenuPolicy(Qt::NoContextMenu);
        view.resize(295, 600);
        view.show();
        QObject::connect(page, &QWebEnginePage::loadFinished,
                         [this](bool ok) { loaded += ok ? 1 : 0; });
        page->showFile(path);
        ASSERT_TRUE(waitUntil([this] { return loaded > 0; }));
        ASSERT_TRUE(waitUntil([this] { return view.focusProxy() != nullptr; }));
    }

    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(view.focusProxy(), button, {}, QPoint(60, 15 + 40 * row));
    }

    QTemporaryDir dir;
    QString path;
    QWebEngineView view;
    FeedPage* page = nullptr;
    int loaded = 0;
    DesktopCatcher desktop{{"http", "https", "mailto", "file"}};
};

TEST_F(FeedViewTest, WebMailAndNewWindowLinksOpenOnTheDesktopAndThePageStays) {
    for (int row : {0, 1, 2})
        clickRow(row);
    ASSERT_TRUE(waitUntil([this] { return desktop.opened.size() == 3; }));
    EXPECT_EQ(desktop.opened,
              QList<QUrl>({QUrl("http://example.com/plain"), QUrl("https://example.com/blank"),
                           QUrl("mailto:someone@example.com")}));
    spin(300);
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(loaded, 1) << "the view left feeds.htm";
}

TEST_F(FeedViewTest, ScriptsDoNotRunAndOtherLinksLeadNowhere) {
    EXPECT_EQ(page->title(), "feeds");
    clickRow(4); // file:
    clickRow(5); // javascript:
    spin(500);
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(page->title(), "feeds");
}

TEST_F(FeedViewTest, AnInPageAnchorScrollsThePage) {
    ASSERT_EQ(page->scrollPosition().y(), 0);
    clickRow(3);
    EXPECT_TRUE(waitUntil([this] { return page->scrollPosition().y() > 1000; }, 5000));
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(FeedViewTest, ARightClickOpensNoMenu) {
    clickRow(0, Qt::RightButton);
    clickRow(7, Qt::RightButton);
    spin(400);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QMenu*>(w) && w->isVisible());
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(FeedViewTest, ShowingThePageAgainReloadsItFromDisk) {
    ASSERT_TRUE(test::writeFile(path, "<html><head><title>second</title></head></html>"));
    page->showFile(path);
    EXPECT_TRUE(waitUntil([this] { return page->title() == "second"; }));
}

} // namespace
} // namespace quorvel
