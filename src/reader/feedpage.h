#pragma once

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInfo>

namespace quorvel {

// The page behind the reader's view: it shows feeds.htm and nothing else. JavaScript is off;
// http, https and mailto links (target='_blank' ones too) open in the desktop's browser;
// in-page anchors scroll; every other navigation is refused. Besides the page itself, only
// web images load: no frames, scripts, style sheets, fonts, media or local files.
class FeedPage : public QWebEnginePage {
    Q_OBJECT
public:
    // What a navigation to a URL leads to.
    enum class LinkAction { Show, OpenOnDesktop, Refuse };

    explicit FeedPage(QObject* parent = nullptr);

    // Loads the page file; from now on it is the only document the view may show.
    void showFile(const QString& path);
    QUrl pageUrl() const { return m_pageUrl; }

    // The rule behind every navigation: the page itself (any fragment) is shown; http,
    // https and mailto URLs go to the desktop; everything else is refused.
    static LinkAction linkAction(const QUrl& target, const QUrl& pageUrl);

    // Whether the page may load a resource of this type from this URL: the page's own document
    // (its navigation is judged by linkAction) and images over http, https or data: URLs.
    static bool isRequestAllowed(QWebEngineUrlRequestInfo::ResourceType type, const QUrl& url);

    // Hands a URL to the desktop's handler (QDesktopServices); false when none took it.
    static bool openOnDesktop(const QUrl& url);

Q_SIGNALS:
    // The desktop could not open a link the user clicked.
    void linkOpenFailed(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    QUrl m_pageUrl;
};

} // namespace quorvel
