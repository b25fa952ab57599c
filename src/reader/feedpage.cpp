#include "feedpage.h"

#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace quorvel {

namespace {

// A page that exists only to learn where a target='_blank' link points: the engine asks
// for a new window first and navigates it afterwards, so the first navigation request of
// this page is the link. It opens that link on the desktop and deletes itself.
class NewWindowCatcher : public QWebEnginePage {
public:
    NewWindowCatcher(FeedPage* owner) : QWebEnginePage(owner->profile(), owner), m_owner(owner) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (FeedPage::linkAction(url, QUrl()) == FeedPage::LinkAction::OpenOnDesktop)
            m_owner->openClickedLink(url);
        deleteLater();
        return false;
    }

private:
    FeedPage* m_owner;
};

// Blocks every request the page may not make; see FeedPage::isRequestAllowed.
class RequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        info.block(!FeedPage::isRequestAllowed(info.resourceType(), info.requestUrl()));
    }
};

} // namespace

FeedPage::FeedPage(QObject* parent) : QWebEnginePage(parent) {
    setUp();
}

FeedPage::FeedPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
    setUp();
}

void FeedPage::setUp() {
    setUrlRequestInterceptor(new RequestFilter(this));
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    // The page is a local file: without this no web image in it would load. The request
    // filter lets images through and nothing else.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
}

void FeedPage::showFile(const QString& path) {
    m_pageUrl = QUrl::fromLocalFile(path);
    // A fresh load each time: the file changed on disk even when its name did not.
    load(m_pageUrl);
}

bool FeedPage::isRequestAllowed(QWebEngineUrlRequestInfo::ResourceType type, const QUrl& url) {
    if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
        return true;
    return type == QWebEngineUrlRequestInfo::ResourceTypeImage && isImageAddressAllowed(url);
}

bool FeedPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    Q_UNUSED(isMainFrame);
    switch (linkAction(url, m_pageUrl)) {
    case LinkAction::Show:
        return true;
    case LinkAction::OpenOnDesktop:
        // Only what the user clicked leaves the page; a redirect or a meta refresh inside
        // the page does not open browser windows on its own.
        if (type == NavigationTypeLinkClicked)
            openClickedLink(url);
        return false;
    case LinkAction::Refuse:
        return false;
    }
    return false;
}

void FeedPage::openClickedLink(const QUrl& url) {
    if (openOnDesktop(url))
        Q_EMIT linkOpened(url);
    else
        Q_EMIT linkOpenFailed(url);
}

QWebEnginePage* FeedPage::createWindow(WebWindowType type) {
    Q_UNUSED(type);
    return new NewWindowCatcher(this);
}

} // namespace quorvel
