#pragma once

#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInfo>

#include "reader/linkpolicy.h"

namespace quorvel {

// The page behind the reader's view: it shows feeds.htm and nothing else. JavaScript is off;
// http, https and mailto links (target='_blank' ones too) open in the desktop's browser;
// in-page anchors scroll; every other navigation is refused. Besides the page itself, only
// web images load: no frames, scripts, style sheets, fonts, media or local files.
class FeedPage : public QWebEnginePage {
    Q_OBJECT
public:
    using LinkAction = quorvel::LinkAction;

    explicit FeedPage(QObject* parent = nullptr);
    // A page of this profile (which must outlive it).
    FeedPage(QWebEngineProfile* profile, QObject* parent);

    // Loads the page file; from now on it is the only document the view may show.
    void showFile(const QString& path);
    QUrl pageUrl() const { return m_pageUrl; }

    static LinkAction linkAction(const QUrl& target, const QUrl& pageUrl) {
        return quorvel::linkAction(target, pageUrl);
    }

    // Whether the page may load a resource of this type from this URL: the page's own document
    // (its navigation is judged by linkAction) and images over http, https or data: URLs.
    static bool isRequestAllowed(QWebEngineUrlRequestInfo::ResourceType type, const QUrl& url);

    static bool openOnDesktop(const QUrl& url) { return quorvel::openOnDesktop(url); }
    // Opens a link the user clicked on the desktop and says how that went (linkOpened or
    // linkOpenFailed).
    void openClickedLink(const QUrl& url);

Q_SIGNALS:
    // The desktop could not open a link the user clicked.
    void linkOpenFailed(const QUrl& url);
    // The desktop opened a link the user clicked.
    void linkOpened(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    void setUp();
    QUrl m_pageUrl;
};

} // namespace quorvel
