#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "manager/managerwindow.h"
#include "recordingport.h"
#include "refresh/feedcache.h"
#include "refresh/refreshcycle.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storelock.h"
#include "testfiles.h"

namespace quorvel {
namespace {

// The widgets need one application object for the whole run, gone before static destruction.
struct QtApp : ::testing::Environment {
    int argc = 1;
    char name[14] = "manager_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    void SetUp() override { app = std::make_unique<QApplication>(argc, argv); }
    void TearDown() override { app.reset(); }
};
[[maybe_unused]] const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApp);

struct ManagerWindowTest : ::testing::Test {
    QTemporaryDir dir;
    FeedStore store{dir.path()};
    test::RecordingPort prompter;
    std::unique_ptr<ManagerWindow> window;
    int refreshes = 0, raises = 0;
    QList<int> timerRestarts;

    // Two feeds, at a loopback port that refuses connections: an added or edited address is
    // fetched at once.
    void SetUp() override {
        writeStore("<root><feed headers='false' num='10' url='http://127.0.0.1:1/one'/>"
                   "<feed headers='true' num='10' url='http://127.0.0.1:1/two'/></root>");
    }

    void writeStore(const QByteArray& text) {
        ASSERT_TRUE(test::writeFile(store.storePath(), text));
        ASSERT_TRUE(applySettingsDefaults(store));
    }

    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    void open(int storeWaitMs = 5000) {
        window = std::make_unique<ManagerWindow>(store, prompter);
        window->setStoreWaitMs(storeWaitMs);
        QObject::connect(window.get(), &ManagerWindow::refreshRequested, [this] { ++refreshes; });
        QObject::connect(window.get(), &ManagerWindow::raiseReaderRequested, [this] { ++raises; });
        QObject::connect(window.get(), &ManagerWindow::refreshTimerRestartRequested,
                         [this](int ms) { timerRestarts << ms; });
        window->openWindow();
    }

    template <typename T> T* get(const QString& name) const {
        T* widget = window->findChild<T*>(name);
        EXPECT_TRUE(widget) << name.toStdString();
        return widget;
    }

    void click(const QString& name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }

    QLineEdit* edit(const QString& name) const {
        auto* line = window->findChild<QLineEdit*>(name);
        return line ? line : get<QComboBox>(name)->lineEdit();
    }

    void type(const char* name, const QString& text) {
        edit(name)->clear();
        QTest::keyClicks(edit(name), text);
    }

    QString text(const QString& name) const { return edit(name)->text(); }

    QStringList storedFeeds() const { return test::storedFeeds(store); }
    QListWidget* feeds() const { return get<QListWidget>("Feeds"); }
    QString row(int i) const { return feeds()->item(i)->text(); }
};

TEST_F(ManagerWindowTest, DisplayTabSavesWhatItShowsAndRefusesABadTransparency) {
    const QString italicHover = "color:#FF0000;font-weight:normal;font-style:italic;";
    XmlDocument document = store.load();
    document.documentElement().setAttribute("hover", italicHover);
    ASSERT_TRUE(store.save(document));
    open();
    EXPECT_TRUE(get<QCheckBox>("hover_italic")->isChecked());
    EXPECT_FALSE(get<QCheckBox>("hover_bold")->isChecked());
    type("readerRefresh", "1.5");
    type("trans", "12.5");
    click("display_done");
    EXPECT_EQ(rootAttribute("heading"),
              "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;");
    EXPECT_EQ(rootAttribute("hover"), italicHover);
    EXPECT_EQ(rootAttribute("refresh"), "90000");
    EXPECT_EQ(rootAttribute("trans"), "12.5");
    EXPECT_EQ(timerRestarts, QList<int>{90000});
    EXPECT_EQ(refreshes, 1);

    for (const QString value : {"0", "1", "abc", "255", "256"}) {
        open();
        type("trans", value);
        click("display_done");
        const bool accepted = value == "1" || value == "255";
        EXPECT_EQ(rootAttribute("trans") == value, accepted) << value.toStdString();
        EXPECT_EQ(window->isVisible(), !accepted) << value.toStdString();
    }
    ASSERT_EQ(prompter.prompts.size(), 3u);
    EXPECT_EQ(prompter.prompts[0].text, "The transparency should be between 1 and 255");
    EXPECT_EQ(refreshes, 3);
}

TEST_F(ManagerWindowTest, DoneRefreshesOnceCancelNeverCloseBoxOnce) {
    open();
    click("done");
    EXPECT_EQ(refreshes, 1);
    open();
    click("feed_cancel");
    open();
    click("display_cancel");
    EXPECT_EQ(refreshes, 1);
    open();
    window->close();
    EXPECT_EQ(refreshes, 2);
    EXPECT_EQ(raises, 4);
}

TEST_F(ManagerWindowTest, FeedTabChangesTheListAndTheStoreTogether) {
    open();
    type("newFeed", "127.0.0.1:1/rss");
    type("numArticles", "5");
    get<QCheckBox>("justHeadings")->setChecked(true);
    QTest::keyClick(edit("newFeed"), Qt::Key_Return); // Enter adds, like the Add button
    ASSERT_EQ(feeds()->count(), 3);
    EXPECT_EQ(row(2), "http://127.0.0.1:1/rss | 5 | H");
    const QString secondUrl = row(1).section(" | ", 0, 0);
    QTest::mouseClick(feeds()->viewport(), Qt::LeftButton, {},
                      feeds()->visualItemRect(feeds()->item(1)).center());
    EXPECT_EQ(text("newFeed"), secondUrl);
    click("moveFeedUp");
    type("numArticles", "3");
    click("edit");
    EXPECT_EQ(row(0), secondUrl + " | 3 | H");
    EXPECT_EQ(storedFeeds().value(0).section(' ', 1, 1), "3");

    const QString opml = dir.filePath("in.opml");
    ASSERT_TRUE(test::writeFile(opml, "<opml><body><outline xmlUrl='http://127.0.0.1:1/a'/>"
                                      "<outline xmlUrl='https://127.0.0.1:1/b'/></body></opml>"));
    QString offered;
    window->setFileChooser([&](QWidget*, const QString&, const QString& filter) {
        offered = filter;
        return opml;
    });
    click("browseforOPML");
    EXPECT_TRUE(offered.contains("*.opml *.xml")) << offered.toStdString();
    click("importForOPML");
    ASSERT_EQ(feeds()->count(), 5);
    EXPECT_EQ(timerRestarts, QList<int>{7200000});
    EXPECT_EQ(storedFeeds().size(), 5);
}

// Selects row, by a click, or with Ctrl held to add it to the selection.
void clickRow(QListWidget* list, int row, Qt::KeyboardModifiers keys = {}) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, keys,
                      list->visualItemRect(list->item(row)).center());
}

TEST_F(ManagerWindowTest, EditTakesTheFieldsAndSelectionAndAfterAMoveDeleteRemovesTheMovedFeed) {
    QByteArray entries = "<feed url='http://127.0.0.1:1/a' num='3' headers='false' disabled='true'/>";
    for (const char* name : {"b", "c", "d"})
        entries += QByteArray("<feed url='http://127.0.0.1:1/") + name +
                 "' num='3' headers='true' disabled='false'/>";
    writeStore("<root>" + entries + "</root>");
    open();
    // The flags come from the row the fields were last filled from.
    clickRow(feeds(), 1);
    clickRow(feeds(), 0);
    click("edit");
    EXPECT_EQ(row(0), "http://127.0.0.1:1/a | 3 | D");
    EXPECT_EQ(storedFeeds().value(0), "http://127.0.0.1:1/a 3 false true");

    // Several rows: count and flags for each, every address kept.
    clickRow(feeds(), 0);
    clickRow(feeds(), 2, Qt::ControlModifier);
    type("numArticles", "8");
    get<QCheckBox>("justHeadings")->setChecked(false);
    get<QCheckBox>("feedDisabled")->setChecked(true);
    click("edit");
    EXPECT_EQ(QStringList({row(0), row(1), row(2)}),
              QStringList({"http://127.0.0.1:1/a | 8 | D", "http://127.0.0.1:1/b | 3 | H",
                           "http://127.0.0.1:1/c | 8 | D"}));
    EXPECT_TRUE(feeds()->selectedItems().isEmpty()) << "a second Edit needs a fresh choice";
    EXPECT_EQ(storedFeeds().mid(0, 3),
              QStringList({"http://127.0.0.1:1/a 8 false true", "http://127.0.0.1:1/b 3 true false",
                           "http://127.0.0.1:1/c 8 false true"}));

    clickRow(feeds(), 1);
    click("moveFeedDown");
    EXPECT_EQ(text("newFeed"), "http://127.0.0.1:1/b") << "the moved row fills the fields";
    click("moveFeedUp");
    click("moveFeedUp");
    click("Delete");
    ASSERT_EQ(feeds()->count(), 3);
    EXPECT_EQ(row(0), "http://127.0.0.1:1/a | 8 | D");
    EXPECT_EQ(storedFeeds(), QStringList({"http://127.0.0.1:1/a 8 false true",
                                          "http://127.0.0.1:1/c 8 false true",
                                          "http://127.0.0.1:1/d 3 true false"}));
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST_F(ManagerWindowTest, FitsASmallScreenWithEveryControlReachable) {
    open();
    EXPECT_LT(window->minimumSizeHint().width(), 1024);
    EXPECT_LT(window->minimumSizeHint().height(), 600 - 60) << "room for a panel and a frame";
    EXPECT_LE(window->minimumWidth(), 1024);
    EXPECT_LE(window->minimumHeight(), 600 - 60);
    window->resize(400, 300);
    ASSERT_EQ(window->size(), QSize(400, 300));
    auto* tabs = get<QTabWidget>("settings");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        auto* area = qobject_cast<QScrollArea*>(tabs->currentWidget());
        ASSERT_TRUE(area) << tab;
        int checked = 0;
        for (QWidget* control : area->widget()->findChildren<QWidget*>()) {
            if (control->objectName().isEmpty() || !control->isVisibleTo(area) ||
                !(qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                  qobject_cast<QComboBox*>(control)))
                continue;
            // Scrolled so the control's corner is at the top left, as far as the bars go.
            const QPoint inPage = control->mapTo(area->widget(), QPoint());
            area->horizontalScrollBar()->setValue(inPage.x());
            area->verticalScrollBar()->setValue(inPage.y());
            const QRect shown(control->mapTo(area->viewport(), QPoint()), control->size());
            EXPECT_TRUE(area->viewport()->rect().contains(shown))
                << control->objectName().toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 10) << tab;
        // What does not fit shows a scroll bar, so the user sees there is more.
        EXPECT_EQ(area->verticalScrollBar()->isVisible(),
                  area->widget()->height() > area->viewport()->height());
        EXPECT_EQ(area->horizontalScrollBar()->isVisible(),
                  area->widget()->width() > area->viewport()->width());
    }
}

TEST_F(ManagerWindowTest, ABusyStoreOpensEmptyAndItsUnreadSettingsAreNeverSavedOverIt) {
    {
        StoreLock otherWriter(store.storePath(), 0);
        ASSERT_TRUE(otherWriter.isLocked());
        open(30);
    }
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_TRUE(prompter.prompts[0].text.contains("did not become free"));
    EXPECT_EQ(feeds()->count(), 0);
    const QByteArray before = test::readFile(store.storePath());
    type("trans", "200");
    type("readerRefresh", "5");
    click("display_done");
    EXPECT_EQ(test::readFile(store.storePath()), before);
    EXPECT_EQ(prompter.prompts.size(), 2u) << "the user was not told";
}

TEST_F(ManagerWindowTest, OnlyWebAddressesEnterAndImportsSayWhatHappened) {
    open(30);
    type("newFeed", "file:///etc/passwd");
    click("Add");
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    EXPECT_TRUE(prompter.prompts[0].text.contains("not a web address"));
    EXPECT_EQ(text("newFeed"), "file:///etc/passwd") << "kept for correcting";
    EXPECT_EQ(feeds()->count(), 2);

    type("loadOPML_text", QUORVEL_TEST_DATA "/opml/mixed-schemes.opml");
    click("importForOPML");
    ASSERT_EQ(prompter.prompts.size(), 2u);
    EXPECT_EQ(prompter.prompts[1].text,
              "Imported 2 feeds; 0 were already in the list; 3 were not web addresses.");
    EXPECT_EQ(feeds()->count(), 4);
    {
        StoreLock otherWriter(store.storePath(), 0);
        click("importForOPML");
    }
    ASSERT_EQ(prompter.prompts.size(), 3u);
    EXPECT_TRUE(prompter.prompts[2].text.startsWith("The feed list is busy"));
    EXPECT_EQ(feeds()->count(), 4);
}

TEST_F(ManagerWindowTest, OpmlExportRunsBehindAProgressBoxAndWritesTheFile) {
    test::LoopbackServer server;
    server.setRoute("/news",
                    test::served("<rss><channel><title>News</title></channel></rss>", 200));
    // A feed the refresh kept a copy of is not asked for, even with its server down.
    server.setRoute("/kept", {.status = 503, .body = "down"});
    CachedFeed copy;
    copy.url = server.url("/kept");
    copy.hasBody = true;
    copy.body = "<rss><channel><title>Kept</title></channel></rss>";
    ASSERT_TRUE(FeedCache::ofDataFolder(store.folder()).store(copy));
    writeStore("<root><feed url='" + server.url("/news").toUtf8() + "'/><feed url='" +
               copy.url.toUtf8() + "'/></root>");
    open();
    const QString target = dir.filePath("out.opml");
    QString answer; // the first save dialog is cancelled: nothing happens
    window->setSaveFileChooser([&](QWidget*, const QString&, const QString&) { return answer; });
    click("exportOPML");
    EXPECT_FALSE(QFile::exists(target));
    answer = dir.filePath("out"); // a name without an extension gets ".opml"
    click("exportOPML");
    EXPECT_TRUE(window->findChild<QProgressDialog*>()) << "the wait shows progress";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !prompter.prompts.empty(); }, 10000));
    EXPECT_TRUE(test::readFile(target).contains("title=\"News\""));
    EXPECT_TRUE(test::readFile(target).contains("title=\"Kept\""));
    EXPECT_EQ(server.requestCount("/kept"), 0);
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].text,
              "Exported 2 feeds to " + QDir::toNativeSeparators(target) + ".");

    // Cancelled while the title is still on its way: no file and no word.
    server.setRoute("/news",
                    test::served("<rss><channel><title>Late</title></channel></rss>", 5000));
    answer = dir.filePath("cancelled.opml");
    click("exportOPML");
    auto* progress = window->findChild<QProgressDialog*>();
    ASSERT_TRUE(progress);
    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QProgressDialog*>(); }, 2000))
        << "a cancel stops the look-ups at once";
    EXPECT_FALSE(QFile::exists(answer));
    EXPECT_EQ(prompter.prompts.size(), 1u);
}

TEST_F(ManagerWindowTest, AddedAddressesAreCheckedAndAPageOffersTheFeedsItAnnounces) {
    test::LoopbackServer server;
    server.setRoute("/feed", test::served(test::rssFeed("Alpha", 3)));
    server.setRoute("/gone", {.status = 404, .body = "no"});
    server.setRoute("/json", test::served(R"({"version": "https://jsonfeed.org/version/1.1",
                                               "title": "Jay", "items": [{}, {}]})"));
    server.setRoute("/atom", test::served("<feed xmlns='http://www.w3.org/2005/Atom'><title>At"
                                          "</title><entry/><entry/></feed>"));
    server.setRoute("/page",
                    {.body = "<!DOCTYPE html><html><head><link rel=stylesheet href=/s.css>"
                             "<link rel=alternate hreflang=de type=text/html href=/de>"
                             "<link rel='alternate' type='application/rss+xml' href='/feed'>"
                             "<link rel=\"home alternate\" type=\"application/atom+xml\" href=\"" +
                             server.url("/atom").toUtf8() + "\"></head><body><p>hi</body></html>",
                     .contentType = "text/html"});
    writeStore("<root></root>");
    open();
    auto* status = get<QLabel>("feedCheckStatus");
    auto addAndWait = [&](const QString& path, const QString& summary) {
        type("newFeed", server.url(path));
        click("Add");
        EXPECT_TRUE(QTest::qWaitFor([&] { return status->text().contains(summary); }, 20000))
            << path.toStdString() << ": " << status->text().toStdString();
    };
    EXPECT_FALSE(status->isVisible()) << "no room taken before a check";
    addAndWait("/feed", "Alpha: loaded with 3 items");
    EXPECT_TRUE(status->isVisible());
    addAndWait("/gone", "Failed: HTTP 404");
    addAndWait("/json", "Jay: loaded with 2 items");
    type("newFeed", "127.0.0.1:1/closed");
    click("Add");
    EXPECT_TRUE(QTest::qWaitFor([&] { return status->text().contains("refused"); }, 20000));
    EXPECT_TRUE(feeds()->item(0)->toolTip().contains("Alpha: loaded with 3 items"));
    EXPECT_TRUE(feeds()->item(0)->icon().isNull());
    EXPECT_TRUE(feeds()->item(1)->toolTip().contains("Failed: HTTP 404"));
    EXPECT_FALSE(feeds()->item(1)->icon().isNull()) << "a failing feed is marked";
    EXPECT_TRUE(prompter.prompts.empty());

    prompter.answers = {MessageAnswer::Cancel, MessageAnswer::Ok};
    addAndWait("/atom", "At: loaded with 2 items");
    ASSERT_EQ(prompter.prompts.size(), 0u);
    type("newFeed", server.url("/page"));
    click("Add");
    EXPECT_TRUE(QTest::qWaitFor([&] { return prompter.prompts.size() == 2; }, 20000));
    ASSERT_EQ(prompter.prompts.size(), 2u);
    EXPECT_TRUE(prompter.prompts[0].text.contains(server.url("/feed")));
    EXPECT_TRUE(prompter.prompts[1].text.contains(server.url("/atom")));
    EXPECT_EQ(row(5).section(" | ", 0, 0), server.url("/atom")) << "the page's row now holds it";
    EXPECT_EQ(storedFeeds().value(5).section(' ', 0, 0), server.url("/atom"));
}

} // namespace
} // namespace quorvel
