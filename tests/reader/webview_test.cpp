#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPrinter>
#include <QTest>
#include <QWebEngineProfile>
#include <QWebEngineScript>

#include "reader/feedpage.h"
#include "reader/webenginesetup.h"
#include "reader/webview.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

QVariant evaluate(WebView& view, const QString& script) {
    QVariant result;
    view.page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                               [&](const QVariant& v) { result = v.isValid() ? v : QVariant(""); });
    waitUntil([&] { return result.isValid(); }, 10000);
    return result;
}

TEST(WebViewTest, KeepsNothingOnTheDiskFitsThePageAndPrintsAtMost300Dpi) {
    QTemporaryDir dir;
    PageViewContext context;
    context.dataFolder = dir.path();
    WebView view(context);
    EXPECT_TRUE(view.profile()->isOffTheRecord());
    EXPECT_EQ(view.profile()->httpCacheType(), QWebEngineProfile::MemoryHttpCache);
    EXPECT_EQ(view.profile()->httpCacheMaximumSize(), WebView::httpCacheBytes);

    const QString path = dir.filePath("feeds.htm");
    const QByteArray page = "<html><body><style>a{color:#0000FF}</style><p>" + QByteArray(400, 'w') +
                            "</p><pre>" + QByteArray(300, 'p') + "</pre><img width='600' height='300' "
                            "src='data:image/gif;base64,R0lGODlhAQABAAAAACH5BAEKAAEALAAAAAABAAEAAAICTAEAOw=='>"
                            "</body></html>";
    ASSERT_TRUE(writeFile(path, page));
    view.resize(295, 500);
    view.show();
    bool loaded = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
    view.showFile(path);
    ASSERT_TRUE(waitUntil([&] { return loaded; }));
    EXPECT_EQ(view.pageUrl(), QUrl::fromLocalFile(path));
    EXPECT_TRUE(evaluate(view, "document.documentElement.scrollWidth <= window.innerWidth").toBool())
        << "the page is wider than the strip";
    EXPECT_LT(evaluate(view, "document.images[0].width").toInt(), 295);
    EXPECT_EQ(readFile(path), page) << "the page file stays as written";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"feeds.htm"}) << "the engine keeps nothing in the data folder";

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath("page.pdf"));
    bool done = false, ok = false;
    view.print(&printer, [&](bool result) { done = true, ok = result; });
    EXPECT_LE(printer.resolution(), WebView::printDpi);
    EXPECT_TRUE(QApplication::overrideCursor()) << "no busy sign while printing";
    ASSERT_TRUE(waitUntil([&] { return done; }, 60000));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(QApplication::overrideCursor());
    EXPECT_GT(readFile(dir.filePath("page.pdf")).size(), 0);
}

TEST(WebViewTest, OpenedLinksTakeTheVisitedRuleAndKeepItAfterARestart) {
    QTemporaryDir dir;
    PageViewContext context;
    context.dataFolder = dir.path();
    const QString path = dir.filePath("feeds.htm");
    ASSERT_TRUE(writeFile(path, "<html><body style='margin:0'><style>a{color:#0000FF}"
                                "a:visited{color:#00AA00}a:hover{color:#FF0000}</style>"
                                "<a id='one' style='display:block;height:40px' href='http://example.com/v'>one</a>"
                                "<a id='two' href='http://example.com/w'>two</a></body></html>"));
    DesktopCatcher desktop({"http"});
    const auto colourOf = [](WebView& view, const char* id) {
        return evaluate(view, QString("getComputedStyle(document.getElementById('%1')).color").arg(id))
            .toString();
    };
    for (int start = 0; start < 2; ++start) {
        WebView view(context);
        view.resize(295, 400);
        view.show();
        bool loaded = false;
        QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
        view.showFile(path);
        ASSERT_TRUE(waitUntil([&] { return loaded && view.focusProxy(); }));
        if (start == 0) {
            EXPECT_EQ(colourOf(view, "one"), "rgb(0, 0, 255)");
            QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(20, 15));
            ASSERT_TRUE(waitUntil([&] { return desktop.opened.size() == 1; }));
            // Under the mouse the hover rule still wins over the visited one.
            EXPECT_TRUE(waitUntil([&] { return colourOf(view, "one") == "rgb(255, 0, 0)"; }, 5000));
            QTest::mouseMove(view.focusProxy(), QPoint(200, 300));
        }
        EXPECT_TRUE(waitUntil([&] { return colourOf(view, "one") == "rgb(0, 170, 0)"; }, 5000))
            << "start " << start << ": " << colourOf(view, "one").toStdString();
        EXPECT_EQ(colourOf(view, "two"), "rgb(0, 0, 255)");
    }
}

TEST(WebEngineSetupTest, TheProgramsSwitchesGoInUnlessTheEnvironmentGivesOthers) {
    const char* const name = "QTWEBENGINE_CHROMIUM_FLAGS";
    const std::optional<QByteArray> saved =
        qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    qputenv(name, "--user-switch");
    prepareWebEngine();
    EXPECT_EQ(qgetenv(name), "--user-switch");
    qunsetenv(name);
    prepareWebEngine();
    EXPECT_EQ(qgetenv(name), webEngineSwitches());
    if (saved)
        qputenv(name, *saved);
    else
        qunsetenv(name);
}

} // namespace
} // namespace quorvel
