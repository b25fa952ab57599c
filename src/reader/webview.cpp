#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPrinter>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include "reader/feedpage.h"
#include "reader/lightview.h"

namespace quorvel {

const char* WebView::fitStyle() {
    return "img,picture,video,svg,table{max-width:100%!important}"
           "img{height:auto!important}"
           "html,body{overflow-x:hidden}"
           "body,p,div,span,a,td,li{overflow-wrap:anywhere}"
           "pre{white-space:pre-wrap!important;overflow-wrap:anywhere}";
}

WebView::WebView(const PageViewContext& context, QWidget* parent)
    : QWebEngineView(parent),
      m_visited(QDir(context.dataFolder).filePath(QStringLiteral("visited.txt"))) {
    setObjectName(QStringLiteral("feeder"));
    setContextMenuPolicy(Qt::NoContextMenu);
    // A profile of its own that keeps nothing on the disk: the visited links are the data
    // folder's visited set, cookies are never kept, and the images a page shows are cached in
    // memory (bounded) for the run. A stored profile cost memory and a folder of its own.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setHttpCacheMaximumSize(httpCacheBytes);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);

    // The fit rules go in as a style element from the program's own script world as soon as
    // the document has its root; page scripts stay off and feeds.htm stays as written.
    QWebEngineScript fit;
    fit.setName(QStringLiteral("fit"));
    fit.setWorldId(QWebEngineScript::ApplicationWorld);
    fit.setInjectionPoint(QWebEngineScript::DocumentCreation);
    fit.setRunsOnSubFrames(false);
    fit.setSourceCode(QStringLiteral(
        "(function(){function add(){var s=document.createElement('style');s.textContent='%1';"
        "(document.head||document.documentElement).appendChild(s);}"
        "if(document.documentElement){add();return;}"
        "new MutationObserver(function(m,o){if(document.documentElement){o.disconnect();add();}})"
        ".observe(document,{childList:true});})();")
                          .arg(QLatin1String(fitStyle())));
    m_profile->scripts()->insert(fit);

    m_page = new FeedPage(m_profile, this);
    setPage(m_page);
    connect(m_page, &FeedPage::linkOpenFailed, this, [this](const QUrl& url) {
        if (linkOpenFailed)
            linkOpenFailed(url);
    });
    connect(m_page, &FeedPage::linkOpened, this, [this](const QUrl& url) {
        m_visited.add(url);
        markVisited();
    });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (ok)
            markVisited();
    });
}

WebView::~WebView() {
    // The page goes before its profile.
    setPage(nullptr);
    delete m_page;
}

void WebView::showFile(const QString& path) {
    QFile file(path);
    const QString html = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(1 << 20)) : QString();
    m_visitedRule = LightView::styleRule(html, QStringLiteral("a:visited"));
    m_hoverRule = LightView::styleRule(html, QStringLiteral("a:hover"));
    m_page->showFile(path);
}

void WebView::markVisited() {
    QJsonArray keys;
    for (const QString& key : m_visited.entries())
        keys.append(key);
    // From the program's own script world (the page's scripts stay off): a class on the
    // visited links and the page's a:visited rule for it, a:hover still above it.
    const QString css = QStringLiteral("a.quorvel-visited{%1}a.quorvel-visited:hover{%2}")
                            .arg(m_visitedRule, m_hoverRule);
    const QString script =
        QStringLiteral(
            "(function(visited,css){var set=new Set(visited);"
            "var s=document.getElementById('quorvel-visited');"
            "if(!s){s=document.createElement('style');s.id='quorvel-visited';"
            "(document.head||document.documentElement).appendChild(s);}"
            "s.textContent=css;"
            "document.querySelectorAll('a[href]').forEach(function(a){"
            "if(set.has(a.href.split('#')[0]))a.classList.add('quorvel-visited');});})(%1,%2)")
            .arg(QString::fromUtf8(QJsonDocument(keys).toJson(QJsonDocument::Compact)),
                 QString::fromUtf8(QJsonDocument(QJsonArray{css}).toJson(QJsonDocument::Compact))
                     .mid(1)
                     .chopped(1));
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

QUrl WebView::pageUrl() const {
    return m_page->pageUrl();
}

void WebView::print(QPrinter* printer, std::function<void(bool ok)> done) {
    if (printer->resolution() > printDpi)
        printer->setResolution(printDpi);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    connect(
        this, &QWebEngineView::printFinished, this,
        [done = std::move(done)](bool ok) {
            QApplication::restoreOverrideCursor();
            if (done)
                done(ok);
        },
        Qt::SingleShotConnection);
    QWebEngineView::print(printer);
}

} // namespace quorvel
