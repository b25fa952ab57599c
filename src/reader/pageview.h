#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QUrl>

#include "platform/fetcher.h"
#include "store/viewsetting.h"

class QPrinter;
class QWidget;

namespace quorvel {

// What a page view needs from its surroundings.
struct PageViewContext {
    // The data folder: the visited links and the web view's profile live there.
    QString dataFolder;
    // Limits of the image fetches of the light view.
    FetchLimits imageLimits = defaultImageLimits();
    // The images the light view keeps decoded in memory, at most this many bytes.
    qint64 imageCacheBytes = 48 * 1024 * 1024;

    static FetchLimits defaultImageLimits() {
        FetchLimits limits;
        limits.maxConcurrent = 6;
        limits.maxPerHost = 4;
        return limits;
    }
};

// The widget that shows feeds.htm in the reader's strip. Either view follows the same rules:
// links to http, https and mailto go to the desktop, in-page anchors scroll, nothing else
// opens; the page loads web images and nothing else; visited links survive a restart.
class PageView {
public:
    virtual ~PageView() = default;

    virtual QWidget* widget() = 0;
    virtual PageViewKind kind() const = 0;
    // (Re)loads the page file: it changed on disk even when its name did not.
    virtual void showFile(const QString& path) = 0;
    virtual QUrl pageUrl() const = 0;
    // Prints the page; done(ok) runs on the UI thread when it has finished, perhaps later.
    virtual void print(QPrinter* printer, std::function<void(bool ok)> done) = 0;

    // Called when the desktop could not open a link the user clicked.
    std::function<void(const QUrl&)> linkOpenFailed;
};

// Makes the view of this kind as a child of parent. Where the program was built without the
// browser engine, every kind gives the light view.
PageView* createPageView(PageViewKind kind, const PageViewContext& context, QWidget* parent);

} // namespace quorvel
