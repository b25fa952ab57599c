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

using Action = FeedPage::LinkAction;

TEST(LinkPolicyTest, ThePageItselfIsShownWithOrWithoutAFragment) {
    const QUrl page = QUrl::fromLocalFile("/data/feeds.htm");
    EXPECT_EQ(FeedPage::linkAction(page, page), Action::Show);
    EXPECT_EQ(FeedPage::linkAction(QUrl("file:///data/feeds.htm#feed2"), page), Action::Show);
}

TEST(LinkPolicyTest, WebAndMailLinksGoToTheDesktop) {
    const QUrl page = QUrl::fromLocalFile("/data/feeds.htm");
    EXPECT_EQ(FeedPage::linkAction(QUrl("http://example.com/a"), page), Action::OpenOnDesktop);
    EXPECT_EQ(FeedPage::linkAction(QUrl("HTTPS://example.com/a"), page), Action::OpenOnDesktop);
    EXPECT_EQ(FeedPage::linkAction(QUrl("mailto:a@example.com"), page), Action::OpenOnDesktop);
}

TEST(LinkPolicyTest, EverythingElseIsRefused) {
    const QUrl page = QUrl::fromLocalFile("/data/feeds.htm");
    EXPECT_EQ(FeedPage::linkAction(QUrl("file:///etc/passwd"), page), Action::Refuse);
    EXPECT_EQ(FeedPage::linkAction(QUrl::fromLocalFile("/data/error.log"), page), Action::Refuse);
    EXPECT_EQ(FeedPage::linkAction(QUrl("javascript:alert(1)"), page), Action::Refuse);
    EXPECT_EQ(FeedPage::linkAction(QUrl("data:text/html,<b>x</b>"), page), Action::Refuse);
    EXPECT_EQ(FeedPage::linkAction(QUrl("ftp://example.com/"), page), Action::Refuse);
    EXPECT_EQ(FeedPage::linkAction(QUrl("file:///data/feeds.htm"), QUrl()), Action::Refuse)
        << "before a page is shown nothing is the page";
}

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

TEST_F(FeedViewTest, ScriptsDoNotRun) {
    EXPECT_EQ(page->title(), "feeds");
}

TEST_F(FeedViewTest, LinksOpenOnTheDesktopAndThePageStays) {
    clickRow(0);
    ASSERT_TRUE(waitUntil([this] { return desktop.opened.size() == 1; }));
    EXPECT_EQ(desktop.opened.at(0), QUrl("http://example.com/plain"));
    clickRow(2);
    ASSERT_TRUE(waitUntil([this] { return desktop.opened.size() == 2; }));
    EXPECT_EQ(desktop.opened.at(1), QUrl("mailto:someone@example.com"));
    spin(300);
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(loaded, 1) << "the view never left feeds.htm";
}

TEST_F(FeedViewTest, LinksForANewWindowOpenOnTheDesktopToo) {
    clickRow(1);
    ASSERT_TRUE(waitUntil([this] { return desktop.opened.size() == 1; }));
    EXPECT_EQ(desktop.opened.at(0), QUrl("https://example.com/blank"));
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
}

TEST_F(FeedViewTest, AnInPageAnchorScrollsThePage) {
    ASSERT_EQ(page->scrollPosition().y(), 0);
    clickRow(3);
    EXPECT_TRUE(waitUntil([this] { return page->scrollPosition().y() > 1000; }, 5000));
    EXPECT_TRUE(desktop.opened.isEmpty());
}

TEST_F(FeedViewTest, OtherLinksLeadNowhere) {
    clickRow(4);
    clickRow(5);
    spin(500);
    EXPECT_TRUE(desktop.opened.isEmpty());
    EXPECT_EQ(page->url(), QUrl::fromLocalFile(path));
    EXPECT_EQ(page->title(), "feeds");
}

TEST_F(FeedViewTest, ARightClickOpensNoMenu) {
    clickRow(7, Qt::RightButton);
    QTest::mouseClick(view.focusProxy(), Qt::RightButton, {}, QPoint(60, 15));
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
