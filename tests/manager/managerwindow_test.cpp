#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "manager/managerwindow.h"
#include "platform/xmldocument.h"
#include "recordingport.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storelock.h"
#include "testfiles.h"

namespace quorvel {
namespace {

// The widgets need one application object for the whole run; it must go before static
// destruction begins, so a test environment owns it.
class QtApplicationEnvironment : public ::testing::Environment {
    int argc = 1;
    char name[14] = "manager_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;

public:
    void SetUp() override { app = std::make_unique<QApplication>(argc, argv); }
    void TearDown() override { app.reset(); }
};

[[maybe_unused]] const auto* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

class ManagerWindowTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FeedStore store{dir.path()};
    test::RecordingPort prompter;
    std::unique_ptr<ManagerWindow> window;
    int refreshes = 0;
    int raises = 0;
    QList<int> timerRestarts;

    void SetUp() override { writeStore(defaultStoreText().toUtf8()); }

    void writeStore(const QByteArray& text) {
        ASSERT_TRUE(test::writeFile(store.storePath(), text));
        ASSERT_TRUE(applySettingsDefaults(store));
    }

    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    QByteArray fileBytes() const { return test::readFile(store.storePath()); }

    void open() {
        window = std::make_unique<ManagerWindow>(store, prompter);
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
    bool ticked(const char* name) const { return get<QCheckBox>(name)->isChecked(); }
    QListWidget* feeds() const { return get<QListWidget>("Feeds"); }

    QStringList rows() const {
        QStringList out;
        for (int i = 0; i < feeds()->count(); ++i)
            out << feeds()->item(i)->text();
        return out;
    }
};

TEST_F(ManagerWindowTest, ControlsCarryTheirNamesAndCaptions) {
    open();
    EXPECT_EQ(window->objectName(), "rssEditor");
    EXPECT_EQ(window->windowTitle(), "Quorvel RSS Feed Manager");
    EXPECT_EQ(get<QTabWidget>("settings")->tabText(0), "Feeds");
    EXPECT_EQ(get<QTabWidget>("settings")->widget(1)->objectName(), "displaySettings");
    for (const QString pair :
         {"Add=&Add", "Delete=&Delete", "edit=&Edit", "done=D&one", "browseforOPML=Browse",
          "importForOPML=Import", "feed_cancel=Cancel", "exportOPML=Export OPML",
          "display_done=Done", "display_cancel=Cancel"})
        EXPECT_EQ(get<QPushButton>(pair.section('=', 0, 0))->text(), pair.section('=', 1));
    EXPECT_EQ(get<QLabel>("Label2")->text(), "Add/Edit  Feed");
    EXPECT_FALSE(get<QPushButton>("edit")->isEnabled());
    EXPECT_EQ(feeds()->selectionMode(), QAbstractItemView::ExtendedSelection);
}

TEST_F(ManagerWindowTest, DefaultStoreShowsAndSavesTheDocumentedValues) {
    open();
    ASSERT_EQ(rows().size(), 2);
    EXPECT_TRUE(rows()[0].endsWith(" | 10"));
    EXPECT_TRUE(rows()[1].endsWith(" | 10 | H"));
    for (const QString pair :
         {"heading_font=arial", "heading_size=12", "heading_colour=#000000", "date_font=arial",
          "date_size=11", "date_colour=#000000", "hover_colour=#FF0000", "visited_colour=#FF0000",
          "bg_colour=#FFFFFF", "readerRefresh=1", "trans=255"})
        EXPECT_EQ(text(pair.section('=', 0, 0)), pair.section('=', 1)) << pair.toStdString();
    for (const char* name : {"heading_bold", "date_italic", "hover_bold", "visited_bold"})
        EXPECT_TRUE(ticked(name)) << name;
    for (const char* name :
         {"heading_italic", "date_bold", "hover_italic", "visited_italic", "setMinCheck"})
        EXPECT_FALSE(ticked(name)) << name;
    click("display_done");
    EXPECT_EQ(rootAttribute("heading"),
              "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;");
    EXPECT_TRUE(rootAttribute("bDate").endsWith("font-style:italic;"));
    EXPECT_TRUE(rootAttribute("body").endsWith("background-color:#FFFFFF"));
    EXPECT_EQ(rootAttribute("refresh"), "60000");

    const QString italicHover = "color:#FF0000;font-weight:normal;font-style:italic;";
    XmlDocument document = store.load();
    document.documentElement().setAttribute("hover", italicHover);
    ASSERT_TRUE(store.save(document));
    open();
    EXPECT_TRUE(ticked("hover_italic"));
    EXPECT_FALSE(ticked("hover_bold"));
    type("readerRefresh", "1.5");
    click("display_done");
    EXPECT_EQ(rootAttribute("hover"), italicHover);
    EXPECT_EQ(rootAttribute("refresh"), "90000");
    EXPECT_EQ(timerRestarts, QList<int>({60000, 90000}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(refreshes, 2);
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST_F(ManagerWindowTest, TransparencyMustBeFrom1To255) {
    for (const char* accepted : {"1", "255", "12.5"}) {
        open();
        type("trans", accepted);
        click("display_done");
        EXPECT_EQ(rootAttribute("trans"), accepted);
    }
    open();
    for (const char* refused : {"0", "256", "abc"}) {
        type("trans", refused);
        click("display_done");
        EXPECT_TRUE(window->isVisible()) << refused;
        EXPECT_EQ(window->focusWidget(), get<QLineEdit>("trans"));
    }
    ASSERT_EQ(prompter.prompts.size(), 3u);
    EXPECT_EQ(prompter.prompts[0].text, "The transparency should be between 1 and 255");
    EXPECT_EQ(prompter.prompts[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(rootAttribute("trans"), "12.5");
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
    type("newFeed", "example.com/rss");
    type("numArticles", "5");
    get<QCheckBox>("justHeadings")->setChecked(true);
    click("Add");
    EXPECT_EQ(rows().last(), "http://example.com/rss | 5 | H");
    EXPECT_EQ(text("newFeed"), "");
    const QString secondUrl = rows()[1].section(" | ", 0, 0);
    QTest::mouseClick(feeds()->viewport(), Qt::LeftButton, {},
                      feeds()->visualItemRect(feeds()->item(1)).center());
    EXPECT_EQ(text("newFeed"), secondUrl);
    EXPECT_TRUE(ticked("justHeadings"));
    click("moveFeedUp");
    type("numArticles", "3");
    click("edit");
    EXPECT_EQ(rows()[0], secondUrl + " | 3 | H");
    EXPECT_EQ(store.load().documentElement().childElements("feed")[0].getAttribute("num"), "3");
    EXPECT_TRUE(prompter.prompts.empty());
}

TEST_F(ManagerWindowTest, ColourBoxClickAsksTheChooser) {
    open();
    std::optional<QColor> seenPreset;
    window->setColourChooser([&](const std::optional<QColor>& preset, QWidget*) {
        seenPreset = preset;
        return std::optional<QColor>(QColor(0x12, 0x34, 0x56));
    });
    QTest::mouseClick(get<QLineEdit>("link_colour"), Qt::LeftButton);
    EXPECT_EQ(seenPreset, QColor(0, 0, 255));
    EXPECT_EQ(text("link_colour"), "#123456");
}

TEST_F(ManagerWindowTest, CancelledBrowseKeepsThePath) {
    open();
    QString answer = "/tmp/feeds.opml";
    window->setFileChooser([&](QWidget*, const QString&, const QString&) { return answer; });
    click("browseforOPML");
    answer.clear();
    click("browseforOPML");
    EXPECT_EQ(text("loadOPML_text"), "/tmp/feeds.opml");
}

TEST_F(ManagerWindowTest, BusyStoreOpensEmptyAndSavesNothing) {
    StoreLock otherWriter(store.storePath(), 0);
    ASSERT_TRUE(otherWriter.isLocked());
    window = std::make_unique<ManagerWindow>(store, prompter);
    window->setStoreWaitMs(30);
    window->openWindow();
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_TRUE(prompter.prompts[0].text.contains("did not become free"));
    EXPECT_EQ(feeds()->count(), 0);
}

using ManagerOpmlTest = ManagerWindowTest;

TEST_F(ManagerOpmlTest, ImportAddsRowsAndRestartsTheTimerAtTwoHours) {
    open();
    const QString path = dir.path() + "/in.opml";
    ASSERT_TRUE(test::writeFile(path, "<opml><body><outline text='g'><outline "
                                      "xmlUrl='http://a.example/rss'/></outline>"
                                      "<outline xmlUrl='https://b.example/'/></body></opml>"));
    type("loadOPML_text", path);
    click("importForOPML");
    EXPECT_EQ(rows().mid(2),
              (QStringList{"http://a.example/rss | 1 | H", "https://b.example/ | 1 | H"}));
    EXPECT_EQ(timerRestarts, QList<int>{7200000});
    EXPECT_EQ(rootAttribute("refresh"), "7200000");
    EXPECT_EQ(store.load().documentElement().childElements("feed").size(), 4u);
}

TEST_F(ManagerOpmlTest, InvalidFileIsToldAndChangesNothing) {
    open();
    const QByteArray before = fileBytes();
    ASSERT_TRUE(test::writeFile(dir.path() + "/bad.opml", "no xml here"));
    type("loadOPML_text", dir.path() + "/bad.opml");
    click("importForOPML");
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    EXPECT_TRUE(prompter.prompts[0].text.startsWith("This does not seem to be a valid OPML file."));
    EXPECT_EQ(fileBytes(), before);
    EXPECT_TRUE(timerRestarts.isEmpty());
}

TEST_F(ManagerOpmlTest, ExportWritesTheEnabledFeedsWithTheirTitles) {
    test::LoopbackServer server;
    server.setRoute("/news",
                    test::served("<rss><channel><title>News</title></channel></rss>", 200));
    const QByteArray url = server.url("/news").toUtf8();
    writeStore("<root><feed url='" + url + "'/><feed url='http://x/' disabled='true'/></root>");
    open();
    const QString target = dir.path() + "/out.opml";
    QString answer; // the first save dialog is cancelled: nothing happens
    window->setSaveFileChooser([&](QWidget*, const QString&, const QString&) { return answer; });
    click("exportOPML");
    EXPECT_FALSE(QFile::exists(target));
    answer = target;
    click("exportOPML");
    EXPECT_TRUE(window->findChild<QProgressDialog*>("exportProgress")) << "the wait shows progress";
    for (int i = 0; i < 200 && !QFile::exists(target); ++i)
        QTest::qWait(50);
    const QByteArray text = test::readFile(target);
    EXPECT_TRUE(text.contains("<outline text=\"News\" title=\"News\" xmlUrl = \"" + url + "\" />"))
        << text.toStdString();
    EXPECT_FALSE(text.contains("http://x/"));
    EXPECT_TRUE(prompter.prompts.empty());
}

} // namespace
} // namespace quorvel
