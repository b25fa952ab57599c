#pragma once

#include <QWebEngineView>

#include "reader/pageview.h"
#include "reader/visitedlinks.h"

class QWebEngineProfile;

namespace quorvel {

class FeedPage;

// The browser-engine page view. Its profile keeps nothing on the disk and caches images in
// memory, bounded. The engine marks no link visited, as no link is ever followed inside
// it: the view keeps the links opened on the desktop in the data folder's visited set (the
// light view's too) and gives them the page's a:visited rule (a:hover still wins). A style
// sheet of the view's own (not of the page) makes the page fit the strip: images no wider
// than it, long words and pre blocks wrapping.
class WebView : public QWebEngineView, public PageView {
    Q_OBJECT
public:
    static constexpr int httpCacheBytes = 16 * 1024 * 1024;
    static constexpr int printDpi = 300;

    WebView(const PageViewContext& context, QWidget* parent = nullptr);
    ~WebView() override;

    QWidget* widget() override { return this; }
    PageViewKind kind() const override { return PageViewKind::Web; }
    void showFile(const QString& path) override;
    QUrl pageUrl() const override;
    // At most printDpi; a busy cursor while the engine prints.
    void print(QPrinter* printer, std::function<void(bool ok)> done) override;

    FeedPage* feedPage() const { return m_page; }
    QWebEngineProfile* profile() const { return m_profile; }

    // The style the view adds to every page it shows.
    static const char* fitStyle();

private:
    // Marks the links of the shown page that are in the visited set.
    void markVisited();

    VisitedLinks m_visited;
    QString m_visitedRule; // the page's a:visited declarations
    QString m_hoverRule;   // and its a:hover ones
    QWebEngineProfile* m_profile = nullptr;
    FeedPage* m_page = nullptr;
};

} // namespace quorvel
