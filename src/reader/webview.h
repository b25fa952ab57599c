#pragma once

#include <QWebEngineView>

#include "reader/pageview.h"

class QWebEngineProfile;

namespace quorvel {

class FeedPage;

// The browser-engine page view. Its profile keeps its storage (the visited links among it)
// in the data folder, with a bounded disk cache, so visited links survive a restart. A style
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
    QWebEngineProfile* m_profile = nullptr;
    FeedPage* m_page = nullptr;
};

} // namespace quorvel
