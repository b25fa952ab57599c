#include "lightview.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTimer>

#include "platform/curlfetcher.h"
#include "reader/imageloader.h"
#include "reader/linkpolicy.h"

namespace quorvel {

namespace {

// Where an image's own width and height (from the page) are kept once the view has changed
// them to fit the strip.
constexpr int originalWidthProperty = QTextFormat::UserProperty + 1;
constexpr int originalHeightProperty = QTextFormat::UserProperty + 2;

// The character properties a style rule may carry into a link; everything else the scratch
// document sets on its own is left out of the merge.
constexpr int mergedProperties[] = {
    QTextFormat::ForegroundBrush, QTextFormat::BackgroundBrush, QTextFormat::FontFamilies,
    QTextFormat::FontPixelSize,   QTextFormat::FontPointSize,   QTextFormat::FontWeight,
    QTextFormat::FontItalic,      QTextFormat::TextUnderlineStyle, QTextFormat::FontUnderline,
    QTextFormat::FontStrikeOut,   QTextFormat::FontOverline,    QTextFormat::FontSizeAdjustment,
};

QString styleElementsText(const QString& html) {
    static const QRegularExpression styleElement(
        QStringLiteral("<style[^>]*>(.*?)</style>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    QString css;
    for (auto it = styleElement.globalMatch(html); it.hasNext();)
        css += it.next().captured(1) + QLatin1Char('\n');
    return css;
}

} // namespace

LightView::LightView(const PageViewContext& context, QWidget* parent,
                     std::unique_ptr<Fetcher> fetcher)
    : QTextBrowser(parent),
      m_visited(QDir(context.dataFolder).filePath(QStringLiteral("visited.txt"))) {
    setObjectName(QStringLiteral("feeder"));
    if (!fetcher)
        fetcher = std::make_unique<CurlFetcher>(context.imageLimits);
    m_images = std::make_unique<ImageLoader>(std::move(fetcher), context.imageCacheBytes);
    connect(m_images.get(), &ImageLoader::finished, this, &LightView::imageFinished);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    document()->setUndoRedoEnabled(false);
    connect(this, &QTextBrowser::anchorClicked, this, &LightView::followLink);
}

LightView::~LightView() = default;

QString LightView::withPixelSizes(const QString& css) {
    static const QRegularExpression unitless(
        QStringLiteral("(font-size\\s*:\\s*)(\\d+(?:\\.\\d+)?)(\\s*(?:;|\\}|!|$))"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = css;
    text.replace(unitless, QStringLiteral("\\1\\2px\\3"));
    return text;
}

QString LightView::styleRule(const QString& html, const QString& selector) {
    const QRegularExpression rule(QStringLiteral("(?:^|[}\\s,;])") +
                                  QRegularExpression::escape(selector) +
                                  QStringLiteral("\\s*\\{([^}]*)\\}"),
                                  QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = rule.match(styleElementsText(html));
    return match.hasMatch() ? match.captured(1) : QString();
}

QTextCharFormat LightView::formatOfDeclarations(const QString& declarations) {
    QTextCharFormat result;
    if (declarations.trimmed().isEmpty())
        return result;
    QTextDocument scratch;
    QString style = withPixelSizes(declarations);
    style.replace(QLatin1Char('"'), QLatin1Char('\''));
    scratch.setHtml(QStringLiteral("<span style=\"") + style + QStringLiteral("\">x</span>"));
    QTextCursor cursor(&scratch);
    cursor.setPosition(1);
    const QTextCharFormat read = cursor.charFormat();
    for (const int property : mergedProperties)
        if (read.hasProperty(property))
            result.setProperty(property, read.property(property));
    return result;
}

void LightView::showFile(const QString& path) {
    m_pageUrl = QUrl::fromLocalFile(path);
    QString html = readPage(path);
    m_visitedFormat = formatOfDeclarations(styleRule(html, QStringLiteral("a:visited")));
    m_hoverFormat = formatOfDeclarations(styleRule(html, QStringLiteral("a:hover")));
    const bool firstPage = !m_shownOnce;
    m_shownOnce = true;
    m_pendingHtml.clear();
    // The first page of a run comes up in two steps when it is long: its head (a few
    // screens) at once, the whole page right after that has been drawn. Building a long
    // page takes far longer than drawing its first screen.
    const qsizetype styleEnd = html.indexOf(QLatin1String("</style>"), 0, Qt::CaseInsensitive);
    const qsizetype cut =
        firstPage && html.size() > 2 * previewChars
            ? html.indexOf(QLatin1Char('<'), qMax<qsizetype>(previewChars, styleEnd + 8))
            : -1;
    if (cut > 0 && cut < html.size() - previewChars) {
        buildPage(html.left(cut));
        m_pendingHtml = std::move(html);
        // A view that is not drawn (the strip starts in the tray) gets the whole page soon.
        QTimer::singleShot(previewLimitMs, this, &LightView::finishPage);
        return;
    }
    buildPage(html);
    Q_EMIT pageShown();
}

void LightView::finishPage() {
    if (m_pendingHtml.isEmpty())
        return;
    const QString html = std::move(m_pendingHtml);
    m_pendingHtml.clear();
    buildPage(html);
    Q_EMIT pageShown();
}

void LightView::paintEvent(QPaintEvent* event) {
    QTextBrowser::paintEvent(event);
    // The head of the page is on the screen once this paint is flushed: the rest follows.
    if (!m_pendingHtml.isEmpty())
        QTimer::singleShot(0, this, &LightView::finishPage);
}

QString LightView::readPage(const QString& path) const {
    QFile file(path);
    QString html;
    if (file.open(QIODevice::ReadOnly)) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        html = utf8.decode(file.readAll());
    }
    if (!styleElementsText(html).isEmpty()) {
        // The rich-text engine drops sizes without a unit; browsers read them as pixels.
        static const QRegularExpression styleElement(
            QStringLiteral("(<style[^>]*>)(.*?)(</style>)"),
            QRegularExpression::CaseInsensitiveOption |
                QRegularExpression::DotMatchesEverythingOption);
        QString fixed;
        qsizetype last = 0;
        for (auto it = styleElement.globalMatch(html); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            fixed += QStringView(html).mid(last, m.capturedStart(2) - last);
            fixed += withPixelSizes(m.captured(2));
            last = m.capturedEnd(2);
        }
        fixed += QStringView(html).mid(last);
        html = std::move(fixed);
    }
    // A line break that ends the text before a block draws no empty line in a browser; the
    // rich-text engine would draw one.
    static const QRegularExpression breakBeforeBlock(
        QStringLiteral("<br\\s*/?>((?:\\s|<(a|span)\\b[^>]*>\\s*</\\2>)*)"
                       "(?=<(?:p|hr|h[1-6]|div|ul|ol|dl|table|blockquote|pre)\\b)"),
        QRegularExpression::CaseInsensitiveOption);
    html.replace(breakBeforeBlock, QStringLiteral("\\1"));
    return html;
}

void LightView::buildPage(const QString& html) {
    m_hovered = -1;
    m_hoverSaved.clear();
    // The page is built in a document of its own, without a layout, and handed to the view
    // when complete: laying out while parsing would cost more than the parsing itself.
    auto* page = new QTextDocument(this);
    page->setUndoRedoEnabled(false);
    page->setBaseUrl(m_pageUrl);
    QTextOption option = page->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    page->setDefaultTextOption(option);
    page->setDefaultFont(document()->defaultFont());
    page->setHtml(html);
    // A rule (hr) followed by text without a block of its own: the rich-text engine puts that
    // text in the rule's block and draws the rule below it; a browser draws it above.
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next()) {
        const QTextBlockFormat format = block.blockFormat();
        if (!format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth) || block.length() <= 1)
            continue;
        QTextCursor cursor(block);
        cursor.insertBlock(format, cursor.charFormat());
        QTextBlockFormat text = format;
        text.clearProperty(QTextFormat::BlockTrailingHorizontalRulerWidth);
        cursor.setBlockFormat(text);
        block = cursor.block();
    }
    // pre keeps its spaces and line breaks but wraps, like the rest of the strip.
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next()) {
        if (!block.blockFormat().nonBreakableLines())
            continue;
        QTextCursor cursor(block);
        QTextBlockFormat format = block.blockFormat();
        format.setNonBreakableLines(false);
        cursor.setBlockFormat(format);
    }
    // The rich-text engine takes the body's fonts but not its colours: the text colour and
    // the background (which fills the whole strip, below the text too) go to the palette.
    const QTextCharFormat body = formatOfDeclarations(styleRule(html, QStringLiteral("body")));
    QPalette palette = QApplication::palette(this);
    if (body.hasProperty(QTextFormat::ForegroundBrush))
        palette.setBrush(QPalette::Text, body.foreground());
    if (body.hasProperty(QTextFormat::BackgroundBrush))
        palette.setBrush(QPalette::Base, body.background());
    setPalette(palette);
    QTextFrameFormat root = page->rootFrame()->frameFormat();
    root.setBackground(palette.base());
    page->rootFrame()->setFrameFormat(root);
    collectAnchors(page);
    applyVisited(QString(), page);
    fitImages(page);
    setDocument(page);
}

void LightView::collectAnchors(QTextDocument* page) {
    m_anchors.clear();
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isAnchor() || format.anchorHref().isEmpty())
                continue;
            const QUrl url = resolve(QUrl(format.anchorHref()));
            const QString href = url.toString();
            const int start = fragment.position();
            const int end = start + fragment.length();
            if (!m_anchors.empty() && m_anchors.back().end == start && m_anchors.back().href == href)
                m_anchors.back().end = end;
            else
                m_anchors.push_back({start, end, href, VisitedLinks::key(url)});
        }
    }
}

QUrl LightView::resolve(const QUrl& href) const {
    return m_pageUrl.isEmpty() ? href : m_pageUrl.resolved(href);
}

void LightView::applyVisited(const QString& key, QTextDocument* page) {
    if (!m_visitedFormat.isValid() || m_visitedFormat.properties().isEmpty())
        return;
    QTextCursor cursor(page);
    for (const Anchor& anchor : m_anchors) {
        if (key.isEmpty() ? !m_visited.containsKey(anchor.key) : anchor.key != key)
            continue;
        cursor.setPosition(anchor.start);
        cursor.setPosition(anchor.end, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(m_visitedFormat);
    }
}

void LightView::followLink(const QUrl& href) {
    const QUrl target = resolve(href);
    switch (linkAction(target, m_pageUrl)) {
    case LinkAction::Show:
        if (target.hasFragment())
            scrollToAnchor(target.fragment());
        return;
    case LinkAction::OpenOnDesktop: {
        if (!openOnDesktop(target)) {
            if (linkOpenFailed)
                linkOpenFailed(target);
            return;
        }
        const int hovered = m_hovered;
        setHovered(-1);
        // A visited set that cannot be saved still marks the link for this session.
        m_visited.add(target);
        applyVisited(VisitedLinks::key(target), document());
        setHovered(hovered);
        return;
    }
    case LinkAction::Refuse:
        return;
    }
}

void LightView::setHovered(int anchorIndex) {
    if (anchorIndex == m_hovered)
        return;
    QTextCursor cursor(document());
    for (const SavedFormat& saved : m_hoverSaved) {
        cursor.setPosition(saved.start);
        cursor.setPosition(saved.start + saved.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(saved.format);
    }
    m_hoverSaved.clear();
    m_hovered = anchorIndex;
    if (anchorIndex < 0 || anchorIndex >= int(m_anchors.size()))
        return;
    const Anchor& anchor = m_anchors[std::size_t(anchorIndex)];
    QTextBlock block = document()->findBlock(anchor.start);
    for (; block.isValid() && block.position() < anchor.end; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = qMax(fragment.position(), anchor.start);
            const int end = qMin(fragment.position() + fragment.length(), anchor.end);
            if (start < end)
                m_hoverSaved.push_back({start, end - start, fragment.charFormat()});
        }
    }
    cursor.setPosition(anchor.start);
    cursor.setPosition(anchor.end, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(m_hoverFormat);
}

void LightView::hoverAt(int position) {
    int found = -1;
    if (position >= 0) {
        const auto it = std::upper_bound(m_anchors.begin(), m_anchors.end(), position,
                                         [](int p, const Anchor& a) { return p < a.start; });
        if (it != m_anchors.begin() && position < std::prev(it)->end)
            found = int(std::prev(it) - m_anchors.begin());
    }
    setHovered(found);
}

void LightView::mouseMoveEvent(QMouseEvent* event) {
    QTextBrowser::mouseMoveEvent(event);
    const QPointF point = event->position() + QPointF(horizontalScrollBar()->value(),
                                                      verticalScrollBar()->value());
    hoverAt(anchorAt(event->position().toPoint()).isEmpty()
                ? -1
                : document()->documentLayout()->hitTest(point, Qt::FuzzyHit));
}

void LightView::leaveEvent(QEvent* event) {
    QTextBrowser::leaveEvent(event);
    hoverAt(-1);
}

QVariant LightView::loadResource(int type, const QUrl& name) {
    // Never an empty answer: on one the document would read local files itself. A style
    // sheet is empty; an image not (yet) loaded is a transparent pixel until it arrives.
    if (type == QTextDocument::StyleSheetResource)
        return QString();
    if (type != QTextDocument::ImageResource)
        return QByteArray();
    const QUrl url = resolve(name);
    if (const QImage* image = m_images->image(url))
        return *image;
    m_images->request(url);
    static const QImage placeholder = [] {
        QImage pixel(1, 1, QImage::Format_ARGB32);
        pixel.fill(Qt::transparent);
        return pixel;
    }();
    return placeholder;
}

void LightView::imageFinished(const QUrl& url, bool ok) {
    if (!ok)
        return;
    if (const QImage* image = m_images->image(url))
        document()->addResource(QTextDocument::ImageResource, url, *image);
    // Many images arrive together: one layout for all of them.
    if (m_fitPending)
        return;
    m_fitPending = true;
    QTimer::singleShot(0, this, [this] {
        m_fitPending = false;
        fitImages(document());
        document()->markContentsDirty(0, document()->characterCount());
    });
}

void LightView::fitImages(QTextDocument* page) {
    const qreal margin = 2 * page->documentMargin() + 8;
    const qreal available = qMax<qreal>(16, viewport()->width() - margin);
    QTextCursor cursor(page);
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (!format.isImageFormat())
                continue;
            QTextImageFormat image = format.toImageFormat();
            if (!image.hasProperty(originalWidthProperty)) {
                image.setProperty(originalWidthProperty, image.hasProperty(QTextFormat::ImageWidth)
                                                             ? image.width()
                                                             : -1.0);
                image.setProperty(originalHeightProperty,
                                  image.hasProperty(QTextFormat::ImageHeight) ? image.height()
                                                                              : -1.0);
            }
            qreal width = image.doubleProperty(originalWidthProperty);
            qreal height = image.doubleProperty(originalHeightProperty);
            const QImage* loaded = m_images->image(resolve(QUrl(image.name())));
            if (loaded && width <= 0 && height <= 0) {
                width = loaded->width();
                height = loaded->height();
            } else if (loaded && width <= 0) {
                width = height * loaded->width() / qMax(1, loaded->height());
            } else if (loaded && height <= 0) {
                height = width * loaded->height() / qMax(1, loaded->width());
            }
            if (width > available) {
                if (height > 0)
                    height = height * available / width;
                width = available;
            }
            if (width > 0)
                image.setWidth(width);
            if (height > 0)
                image.setHeight(height);
            if (image == format)
                continue;
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
}

void LightView::resizeEvent(QResizeEvent* event) {
    QTextBrowser::resizeEvent(event);
    fitImages(document());
}

void LightView::print(QPrinter* printer, std::function<void(bool ok)> done) {
    finishPage();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    document()->print(printer);
    QApplication::restoreOverrideCursor();
    if (done)
        done(printer->printerState() != QPrinter::Error);
}

} // namespace quorvel
