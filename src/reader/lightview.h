#pragma once

#include <memory>
#include <vector>

#include <QTextBrowser>
#include <QTextCharFormat>

#include "reader/pageview.h"
#include "reader/visitedlinks.h"

namespace quorvel {

class ImageLoader;

// The light page view: feeds.htm drawn by Qt's rich-text engine, without a browser engine.
// The page's style block applies as written; the parts the rich-text engine leaves out are
// done here: sizes without a unit count as pixels (as browsers read such a page), a:visited
// applies to the links in the visited set (kept in the data folder), a:hover to the link
// under the mouse. The page fits the strip: long words wrap anywhere, pre blocks wrap and
// images wider than the strip are scaled down. Images come from an ImageLoader, never from
// the view itself; no other resource (style sheets, local files) is ever read.
class LightView : public QTextBrowser, public PageView {
    Q_OBJECT
public:
    // fetcher: the image fetcher; nullptr makes a CurlFetcher with context.imageLimits.
    LightView(const PageViewContext& context, QWidget* parent = nullptr,
              std::unique_ptr<Fetcher> fetcher = nullptr);
    ~LightView() override;

    QWidget* widget() override { return this; }
    PageViewKind kind() const override { return PageViewKind::Light; }
    void showFile(const QString& path) override;
    QUrl pageUrl() const override { return m_pageUrl; }
    // Draws the document on the printer as text (a PDF keeps it selectable).
    void print(QPrinter* printer, std::function<void(bool ok)> done) override;

    // What a click on a link with this href does: an in-page anchor scrolls, http, https and
    // mailto go to the desktop (and count as visited), anything else is ignored.
    void followLink(const QUrl& href);
    // Puts the hover style on the link at document position (none when -1 or no link there).
    void hoverAt(int position);

    const VisitedLinks& visitedLinks() const { return m_visited; }
    ImageLoader& images() { return *m_images; }

    // The style text with every font-size without a unit given in px.
    static QString withPixelSizes(const QString& css);
    // The declarations of the first rule for selector in the page's style elements; empty
    // when there is none.
    static QString styleRule(const QString& html, const QString& selector);
    // The character properties a list of CSS declarations sets, as the rich-text engine
    // reads them (the unset ones stay unset, so the result can be merged).
    static QTextCharFormat formatOfDeclarations(const QString& declarations);

Q_SIGNALS:
    // The page finished loading into the document (images may still be on their way).
    void pageShown();

protected:
    QVariant loadResource(int type, const QUrl& name) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Anchor {
        int start;
        int end;
        QString href; // as resolved against the page
        QString key;  // as the visited set keeps it
    };
    struct SavedFormat {
        int start;
        int length;
        QTextCharFormat format;
    };

    // The page file's text as the rich-text engine should read it.
    QString readPage(const QString& path) const;
    // Makes the document of html (a whole page, or its head) and shows it.
    void buildPage(const QString& html);
    // Shows the whole page when only its head is shown.
    void finishPage();
    void collectAnchors(QTextDocument* page);
    // Puts the visited style on the links to key; with an empty key, on every link in the
    // visited set.
    void applyVisited(const QString& key, QTextDocument* page);
    void setHovered(int anchorIndex);
    void fitImages(QTextDocument* page);
    void imageFinished(const QUrl& url, bool ok);
    QUrl resolve(const QUrl& href) const;

    QUrl m_pageUrl;
    VisitedLinks m_visited;
    std::unique_ptr<ImageLoader> m_images;
    QTextCharFormat m_visitedFormat;
    QTextCharFormat m_hoverFormat;
    std::vector<Anchor> m_anchors; // in document order
    int m_hovered = -1;
    std::vector<SavedFormat> m_hoverSaved;
    bool m_fitPending = false;
    // The head shown first covers a few screens of the strip; the whole page follows.
    static constexpr qsizetype previewChars = 16 * 1024;
    static constexpr int previewLimitMs = 1000;
    bool m_shownOnce = false;
    QString m_pendingHtml; // the whole first page while only its head is shown
};

} // namespace quorvel
