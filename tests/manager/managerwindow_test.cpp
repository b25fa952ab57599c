#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "loopbackserver.h"
#include "manager/managerwindow.h"
#include "platform/xmldocument.h"
#include "recordingport.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storelock.h"

namespace quorvel {
namespace {

// The widgets need one application object for the whole run; it must go before static
// destruction begins, so a test environment owns it.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_app = std::make_unique<QApplication>(m_argc, m_argv); }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[14] = "manager_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
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

    void SetUp() override {
        writeStore(defaultStoreText().toUtf8());
        ASSERT_TRUE(applySettingsDefaults(store));
    }

    void writeStore(const QByteArray& text) {
        QFile file(store.storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    void setRootAttribute(const char* name, const QString& value) {
        XmlDocument document = store.load();
        document.documentElement().setAttribute(name, value);
        ASSERT_TRUE(store.save(document));
    }

    QString rootAttribute(const char* name) const {
        return store.load().documentElement().getAttribute(name).value_or("<missing>");
    }

    QByteArray fileBytes() const {
        QFile file(store.storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void open() {
        window = std::make_unique<ManagerWindow>(store, prompter);
        QObject::connect(window.get(), &ManagerWindow::refreshRequested, [this] { ++refreshes; });
        QObject::connect(window.get(), &ManagerWindow::raiseReaderRequested, [this] { ++raises; });
        QObject::connect(window.get(), &ManagerWindow::refreshTimerRestartRequested,
                         [this](int ms) { timerRestarts << ms; });
        window->openWindow();
    }

    template <typename T> T* get(const char* name) const {
        T* widget = window->findChild<T*>(name);
        EXPECT_TRUE(widget) << name;
        return widget;
    }

    void click(const char* buttonName) {
        QTest::mouseClick(get<QPushButton>(buttonName), Qt::LeftButton);
    }

    void type(const char* name, const QString& text) {
        QLineEdit* edit = window->findChild<QLineEdit*>(name);
        if (!edit)
            edit = get<QComboBox>(name)->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    QString text(const char* name) const {
        if (auto* edit = window->findChild<QLineEdit*>(name))
            return edit->text();
        return get<QComboBox>(name)->currentText();
    }

    bool ticked(const char* name) const { return get<QCheckBox>(name)->isChecked(); }

    QListWidget* feeds() const { return get<QListWidget>("Feeds"); }

    void clickRow(int row) {
        QListWidget* list = feeds();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }

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
    auto* tabs = get<QTabWidget>("settings");
    EXPECT_EQ(tabs->tabText(0), "Feeds");
    EXPECT_EQ(tabs->widget(1)->objectName(), "displaySettings");
    const std::pair<const char*, const char*> buttons[] = {{"Add", "&Add"},
                                                           {"Delete", "&Delete"},
                                                           {"edit", "&Edit"},
                                                           {"done", "D&one"},
                                                           {"browseforOPML", "Browse"},
                                                           {"importForOPML", "Import"},
                                                           {"feed_cancel", "Cancel"},
                                                           {"exportOPML", "Export OPML"},
                                                           {"display_done", "Done"},
                                                           {"display_cancel", "Cancel"}};
    for (const auto& [name, caption] : buttons)
        EXPECT_EQ(get<QPushButton>(name)->text(), caption) << name;
    EXPECT_EQ(get<QLabel>("Label2")->text(), "Add/Edit  Feed");
    EXPECT_FALSE(get<QPushButton>("edit")->isEnabled());
    EXPECT_EQ(feeds()->selectionMode(), QAbstractItemView::ExtendedSelection);

    auto* fonts = get<QComboBox>("heading_font");
    for (int i = 1; i < fonts->count(); ++i)
        EXPECT_LE(fonts->itemText(i - 1).compare(fonts->itemText(i), Qt::CaseInsensitive), 0);
}

TEST_F(ManagerWindowTest, DefaultStoreFillsTheListAndTheDisplayTab) {
    open();
    EXPECT_TRUE(prompter.prompts.empty());
    ASSERT_EQ(feeds()->count(), 2);
    EXPECT_TRUE(rows()[0].endsWith(" | 10"));
    EXPECT_TRUE(rows()[1].endsWith(" | 10 | H"));
    const std::pair<const char*, const char*> texts[] = {{"heading_font", "arial"},
                                                         {"heading_size", "12"},
                                                         {"heading_colour", "#000000"},
                                                         {"date_font", "arial"},
                                                         {"date_size", "11"},
                                                         {"date_colour", "#000000"},
                                                         {"hover_colour", "#FF0000"},
                                                         {"visited_colour", "#FF0000"},
                                                         {"bg_colour", "#FFFFFF"},
                                                         {"readerRefresh", "1"},
                                                         {"trans", "255"}};
    for (const auto& [name, value] : texts)
        EXPECT_EQ(text(name), value) << name;
    for (const char* name : {"heading_bold", "date_italic", "hover_bold", "visited_bold"})
        EXPECT_TRUE(ticked(name)) << name;
    for (const char* name :
         {"heading_italic", "date_bold", "hover_italic", "visited_italic", "setMinCheck"})
        EXPECT_FALSE(ticked(name)) << name;
}

TEST_F(ManagerWindowTest, DisplayDoneSavesTheDocumentedTextsAndRefreshesOnce) {
    open();
    click("display_done");
    EXPECT_TRUE(prompter.prompts.empty());
    EXPECT_TRUE(rootAttribute("bDate").endsWith("font-style:italic;"));
    EXPECT_TRUE(rootAttribute("body").endsWith("background-color:#FFFFFF"));
    EXPECT_EQ(rootAttribute("heading"),
              "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;");
    EXPECT_EQ(rootAttribute("refresh"), "60000");
    EXPECT_EQ(timerRestarts, QList<int>{60000});
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(raises, 1);
}

TEST_F(ManagerWindowTest, HoverItalicWithNormalWeightSavesUnchanged) {
    setRootAttribute("hover", "color:#FF0000;font-weight:normal;font-style:italic;");
    open();
    EXPECT_TRUE(ticked("hover_italic"));
    EXPECT_FALSE(ticked("hover_bold"));
    click("display_done");
    EXPECT_EQ(rootAttribute("hover"), "color:#FF0000;font-weight:normal;font-style:italic;");
}

TEST_F(ManagerWindowTest, OneAndAHalfMinutesStores90000AndRestartsTheTimer) {
    open();
    type("readerRefresh", "1.5");
    click("display_done");
    EXPECT_EQ(rootAttribute("refresh"), "90000");
    EXPECT_EQ(timerRestarts, QList<int>{90000});
}

TEST_F(ManagerWindowTest, TransparencyCheck) {
    for (const char* accepted : {"1", "255", "12.5"}) {
        open();
        type("trans", accepted);
        click("display_done");
        EXPECT_EQ(rootAttribute("trans"), accepted);
        EXPECT_FALSE(window->isVisible()) << accepted;
    }
    EXPECT_TRUE(prompter.prompts.empty());
    const QByteArray saved = fileBytes();
    const int refreshesBefore = refreshes;
    for (const char* refused : {"0", "256", "abc"}) {
        open();
        type("trans", refused);
        click("display_done");
        ASSERT_FALSE(prompter.prompts.empty());
        EXPECT_EQ(prompter.prompts.back().text, "The transparency should be between 1 and 255");
        EXPECT_EQ(prompter.prompts.back().icon, MessageIcon::Exclamation);
        EXPECT_TRUE(window->isVisible()) << refused;
        EXPECT_EQ(window->focusWidget(), get<QLineEdit>("trans"));
    }
    EXPECT_EQ(prompter.prompts.size(), 3u);
    EXPECT_EQ(fileBytes(), saved);
    EXPECT_EQ(refreshes, refreshesBefore);
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

TEST_F(ManagerWindowTest, AddChecksItsInputAndAppendsTheFeed) {
    open();
    type("newFeed", "example.com/rss");
    type("numArticles", "many");
    click("Add");
    EXPECT_EQ(prompter.prompts.back().title, "Error");
    EXPECT_EQ(prompter.prompts.back().icon, MessageIcon::Exclamation);
    EXPECT_EQ(feeds()->count(), 2);
    EXPECT_EQ(text("newFeed"), "example.com/rss");

    type("numArticles", "5");
    get<QCheckBox>("justHeadings")->setChecked(true);
    click("Add");
    EXPECT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(rows().last(), "http://example.com/rss | 5 | H");
    EXPECT_EQ(text("newFeed"), "");
    EXPECT_EQ(text("numArticles"), "5");
    EXPECT_FALSE(ticked("justHeadings"));
    EXPECT_TRUE(fileBytes().contains("url=\"http://example.com/rss\" num=\"5\""));
}

TEST_F(ManagerWindowTest, RowClickFillsTheFieldsForEditAndMoves) {
    setRootAttribute("trans", "200"); // any store change keeps the two default feeds
    XmlDocument document = store.load();
    document.documentElement().childElements("feed")[1].setAttribute("disabled", "true");
    ASSERT_TRUE(store.save(document));
    open();

    clickRow(1);
    const QString secondUrl = rows()[1].section(" | ", 0, 0);
    EXPECT_EQ(text("newFeed"), secondUrl);
    EXPECT_EQ(text("numArticles"), "10");
    EXPECT_TRUE(ticked("justHeadings"));
    EXPECT_TRUE(ticked("feedDisabled"));
    EXPECT_TRUE(get<QPushButton>("edit")->isEnabled());

    click("moveFeedUp");
    EXPECT_EQ(feeds()->currentRow(), 0);
    EXPECT_EQ(rows()[0].section(" | ", 0, 0), secondUrl);
    EXPECT_EQ(store.load().documentElement().childElements("feed")[0].getAttribute("url"),
              secondUrl);

    type("newFeed", "HTTPS://feeds.example/news");
    type("numArticles", "3");
    click("edit");
    EXPECT_EQ(rows()[0], "HTTPS://feeds.example/news | 3 | H | D");
    EXPECT_EQ(text("newFeed"), "");
    EXPECT_EQ(text("numArticles"), "10");
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

    const QByteArray before = fileBytes();
    type("readerRefresh", "1");
    type("trans", "255");
    click("display_done");
    EXPECT_EQ(prompter.prompts.size(), 2u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(ManagerWindowTest, UnreadableValuesAreToldWhenTheWindowOpens) {
    setRootAttribute("link", "font-family:verdana;font-size:9;color:#00FF00");
    open();
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    EXPECT_TRUE(prompter.prompts[0].text.contains("\"link\""));
    EXPECT_EQ(text("link_colour"), "#00FF00");
    EXPECT_EQ(text("visited_colour"), "#FF0000");
}

} // namespace
} // namespace quorvel

namespace quorvel {
namespace {

class ManagerOpmlTest : public ManagerWindowTest {
protected:
    QString writeFile(const QString& name, const QByteArray& text) {
        QFile file(dir.path() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }
};

TEST_F(ManagerOpmlTest, ImportAddsRowsAndRestartsTheTimerAtTwoHours) {
    open();
    const QString path = writeFile("in.opml", "<opml><body><outline text='g'><outline "
                                              "xmlUrl='http://a.example/rss'/></outline>"
                                              "<outline xmlUrl='https://b.example/'/></body></opml>");
    click("importForOPML");
    EXPECT_EQ(prompter.prompts.back().text, "Please select a source");
    type("loadOPML_text", path);
    click("importForOPML");
    EXPECT_EQ(rows().mid(2), (QStringList{"http://a.example/rss | 1 | H",
                                          "https://b.example/ | 1 | H"}));
    EXPECT_EQ(timerRestarts, QList<int>{7200000});
    EXPECT_EQ(rootAttribute("refresh"), "7200000");
    EXPECT_EQ(store.load().documentElement().childElements("feed").size(), 4u);
}

TEST_F(ManagerOpmlTest, InvalidFileIsToldAndChangesNothing) {
    open();
    const QByteArray before = fileBytes();
    type("loadOPML_text", writeFile("bad.opml", "no xml here"));
    click("importForOPML");
    ASSERT_FALSE(prompter.prompts.empty());
    EXPECT_EQ(prompter.prompts.back().title, "Error");
    EXPECT_TRUE(prompter.prompts.back().text.startsWith(
        "This does not seem to be a valid OPML file.  Please try again"));
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(rows().size(), 2);
    EXPECT_TRUE(timerRestarts.isEmpty());
}

TEST_F(ManagerOpmlTest, ExportWritesTheEnabledFeedsWithTheirTitles) {
    test::LoopbackServer server;
    test::Response feed;
    feed.body = "<rss><channel><title>Loopback News</title></channel></rss>";
    feed.delayMs = 200;
    server.setRoute("/news", feed);
    writeStore(QStringLiteral("<root><feed url='%1' disabled='false'/><feed url='http://x/' "
                              "disabled='true'/></root>")
                   .arg(server.url("/news"))
                   .toUtf8());
    ASSERT_TRUE(applySettingsDefaults(store));
    open();
    const QString target = dir.path() + "/out.opml";
    int asked = 0;
    window->setSaveFileChooser([&](QWidget*, const QString&, const QString&) {
        ++asked;
        return asked == 1 ? QString() : target;
    });
    click("exportOPML"); // cancelled save dialog: nothing happens
    EXPECT_FALSE(QFile::exists(target));
    click("exportOPML");
    EXPECT_TRUE(window->findChild<QProgressDialog*>("exportProgress")) << "the wait shows progress";
    for (int i = 0; i < 200 && !QFile::exists(target); ++i)
        QTest::qWait(50);
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("<outline text=\"Loopback News\" title=\"Loopback News\" xmlUrl = \"" +
                              server.url("/news").toUtf8() + "\" />"));
    EXPECT_FALSE(text.contains("http://x/"));
    EXPECT_TRUE(prompter.prompts.empty());
}

} // namespace
} // namespace quorvel
