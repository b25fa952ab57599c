#include "xmlfeedreader.h"

#include <algorithm>

#include "feed/feedtext.h"

namespace quorvel {

namespace {

const char kAtom10[] = "http://www.w3.org/2005/Atom";
const char kAtom03[] = "http://purl.org/atom/ns#";

// Field kinds, one bit each in Open::fieldsKept: only the first of each kind is kept.
enum Field : int {
    kTitle,
    kOtherTitle, // RSS: a title of another namespace, used when there is no plain one
    kLink,
    kDate,        // RSS pubDate / lastBuildDate; Atom published (issued)
    kUpdated,     // Atom updated (modified)
    kDescription, // RSS description; Atom content
    kSummary,
    kGuid,
    kUrl,       // RSS image url
    kLogo,
    kIcon,
    kHtmlLink, // Atom: the first alternate link of an HTML type
    kFieldCount
};

QString textOr(const XmlNode& field, const QString& fallback) {
    return field.isNull() ? fallback : field.text();
}

// A channel's or item's title: its plain <title>, else a namespaced one such as <dc:title>.
QString rssTitle(const XmlNode* fields, const QString& fallback) {
    return textOr(fields[kTitle].isNull() ? fields[kOtherTitle] : fields[kTitle], fallback);
}

bool isWebUrl(const QString& text) {
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

FeedItem readRssItem(const XmlNode* fields) {
    FeedItem out;
    out.title = rssTitle(fields, QString());
    const XmlNode& link = fields[kLink];
    out.link = link.isNull() ? QStringLiteral("#") : link.text();
    if (out.link.isEmpty() || link.isNull()) {
        // A permanent guid is the item's address when it names no link.
        const XmlNode& guid = fields[kGuid];
        const QString permaLink =
            guid.getAttribute("isPermaLink").value_or(QString()).trimmed();
        if (!guid.isNull() && permaLink.compare(QLatin1String("false"), Qt::CaseInsensitive) &&
            isWebUrl(guid.text()))
            out.link = guid.text();
    }
    out.date = textOr(fields[kDate], QString());
    out.description = textOr(fields[kDescription], QStringLiteral("No Description"));
    return out;
}

// ---- Atom -------------------------------------------------------------------------------

bool isHtmlType(const QString& type) {
    return type == u"html" || type == u"text/html";
}
bool isXhtmlType(const QString& type) {
    return type == u"xhtml" || type == u"application/xhtml+xml";
}

// The XHTML inside an Atom text: the children of its wrapping div (or its own children).
QString xhtmlOf(const XmlNode& element) {
    const std::vector<XmlNode> children = element.childElements();
    if (children.size() == 1 && children.front().hasLocalName("div"))
        return children.front().innerXml().trimmed();
    return element.innerXml().trimmed();
}

// An alternate link to a page (no type, or an HTML one) rather than to another document.
bool isHtmlLink(const XmlNode& link) {
    const QString type = link.getAttribute("type").value_or(QString());
    return type.isEmpty() || type.contains(QLatin1String("html"), Qt::CaseInsensitive);
}

// An Atom text construct as an HTML fragment (plain = false) or as the document writes it
// (plain = true); nullopt for content of a type that is no text (an image, a document).
std::optional<QString> atomText(const XmlNode& element, bool plain = false) {
    if (element.isNull())
        return std::nullopt;
    const QString type = element.getAttribute("type")
                             .value_or(QString())
                             .trimmed()
                             .toLower();
    const QString mode = element.getAttribute("mode").value_or(QString()).trimmed();
    const bool hasElements = !element.firstChildElement(QString()).isNull();
    if (isXhtmlType(type) || (mode == u"xml" && hasElements))
        return xhtmlOf(element);
    QString text = element.text();
    if (mode == u"base64")
        text = QString::fromUtf8(QByteArray::fromBase64(text.toLatin1())).trimmed();
    if (isHtmlType(type))
        return hasElements ? xhtmlOf(element) : text;
    if (!type.isEmpty() && type != u"text" && !type.startsWith(u"text/"))
        return std::nullopt;
    return plain ? text : escapeHtmlText(text);
}

} // namespace

XmlFeedReader::XmlFeedReader(int articleLimit, QUrl address, const std::atomic<bool>* cancel)
    : m_limit(articleLimit), m_address(std::move(address)), m_cancel(cancel) {}

bool XmlFeedReader::stopped() const {
    return m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed);
}

bool XmlFeedReader::keepsText(XmlNode) {
    return !m_open.empty() && m_open.back().insideField;
}

int XmlFeedReader::fieldOf(const Open& record, XmlNode element) const {
    if (m_atom) {
        auto is = [&](const char* name) {
            return element.isElementNamed(m_atomNamespace.constData(), name);
        };
        if (is("title"))
            return kTitle;
        if (is("link")) {
            const QString rel = element.getAttribute("rel")
                                    .value_or(QStringLiteral("alternate"))
                                    .trimmed();
            if (rel != u"alternate" && rel != u"http://www.iana.org/assignments/relation/alternate")
                return -1;
            return isHtmlLink(element) ? kHtmlLink : kLink;
        }
        if (is("updated") || is("modified"))
            return kUpdated;
        if (record.role == Role::AtomEntry) {
            if (is("published") || is("issued"))
                return kDate;
            if (is("content"))
                return kDescription;
            if (is("summary"))
                return kSummary;
        } else {
            if (is("logo"))
                return kLogo;
            if (is("icon"))
                return kIcon;
        }
        return -1;
    }
    switch (record.role) {
    case Role::Channel:
        if (element.hasName("title"))
            return kTitle;
        if (element.hasLocalName("title"))
            return kOtherTitle;
        if (element.hasName("lastBuildDate"))
            return kDate;
        return -1;
    case Role::Image:
        if (element.hasName("url"))
            return kUrl;
        if (element.hasName("link"))
            return kLink;
        return -1;
    case Role::Item:
        if (element.hasName("title"))
            return kTitle;
        if (element.hasLocalName("title"))
            return kOtherTitle;
        if (element.hasName("link"))
            return kLink;
        if (element.hasName("pubDate"))
            return kDate;
        if (element.hasName("description"))
            return kDescription;
        if (element.hasName("guid"))
            return kGuid;
        return -1;
    default:
        return -1;
    }
}

void XmlFeedReader::startItem(Open* open, bool belowChannel) {
    ++m_itemsSeen;
    open->belowChannel = belowChannel;
    const int quota = belowChannel ? std::max(m_limit, 1) : std::max(m_limit, 0);
    const int seq = m_seen[belowChannel]++;
    if (seq < quota) {
        open->slot = seq;
        m_kept[belowChannel].resize(std::size_t(seq) + 1);
    }
}

void XmlFeedReader::startRss(XmlNode element, Open* open) {
    if (element.hasName("channel")) {
        open->role = Role::Channel;
        ++m_channelDepth;
        m_lastChannel = element;
        m_hasFeedElement = true;
    } else if (element.hasName("item")) {
        open->role = Role::Item;
        startItem(open, m_channelDepth > 0);
    } else if (m_channelDepth > 0 && element.hasName("image")) {
        open->role = Role::Image;
        m_lastImage = element;
    }
}

void XmlFeedReader::startAtom(XmlNode element, Open* open, const Open* parent) {
    // Most elements have no xml:base of their own: they share their parent's by index.
    open->base = parent ? parent->base : -1;
    if (element.hasAttributes()) {
        if (const auto base = element.getAttribute("xml:base")) {
            const QUrl& outer = open->base < 0 ? m_address : m_bases[std::size_t(open->base)];
            m_bases.push_back(outer.resolved(QUrl(base->trimmed())));
            open->base = int(m_bases.size()) - 1;
            open->ownsBase = true;
        }
    }
    // Resolved here, where the xml:base of every ancestor is known; without one the page
    // resolves the link against the feed's address.
    if (open->base >= 0 && open->role == Role::Field && element.hasLocalName("link")) {
        const std::optional<QString> href = element.getAttribute("href");
        const QUrl& base = m_bases[std::size_t(open->base)];
        if (href && !base.isEmpty())
            element.setAttribute(
                QStringLiteral("href"),
                base.resolved(QUrl(href->trimmed())).toString(QUrl::FullyEncoded));
    }
    if (parent != nullptr && parent->role == Role::AtomFeed && !open->insideField &&
        element.isElementNamed(m_atomNamespace.constData(), "entry")) {
        open->role = Role::AtomEntry;
        startItem(open, true);
    }
}

void XmlFeedReader::elementStarted(XmlNode element) {
    Open open;
    open.node = element;
    Open* parent = m_open.empty() ? nullptr : &m_open.back();
    if (parent == nullptr) {
        for (const char* ns : {kAtom10, kAtom03, ""}) {
            if (element.isElementNamed(ns, "feed")) {
                m_atom = true;
                m_atomNamespace = ns;
                m_hasFeedElement = true;
                open.role = Role::AtomFeed;
                break;
            }
        }
    } else if (parent->insideField) {
        open.insideField = true;
        open.markup = parent->markup;
    } else if (parent->role != Role::Other && parent->role != Role::Field) {
        const int field = fieldOf(*parent, element);
        if (field >= 0 && !(parent->fieldsKept & (1u << field))) {
            parent->fieldsKept |= 1u << field;
            parent->fields[field] = element;
            open.role = Role::Field;
            open.insideField = true;
            open.markup = m_atom;
        }
    }
    if (m_atom)
        startAtom(element, &open, parent);
    else if (open.role == Role::Other)
        startRss(element, &open);
    m_open.push_back(std::move(open));
}

void XmlFeedReader::endRecord(const Open& open) {
    static_assert(kFieldCount == kFieldKinds);
    // The fields were noted as they started: the first child of each kind.
    const XmlNode* fields = open.fields;
    if (open.ownsBase)
        m_bases.pop_back();
    switch (open.role) {
    case Role::Channel:
        --m_channelDepth;
        if (open.node == m_lastChannel) {
            m_feed.title = rssTitle(fields, QStringLiteral("No Title"));
            m_feed.plainTitle = m_feed.title;
            m_feed.buildDate = textOr(fields[kDate], QStringLiteral("No Date"));
        }
        break;
    case Role::Image:
        if (open.node == m_lastImage) {
            m_feed.imageUrl = textOr(fields[kUrl], QString());
            m_feed.imageLink = textOr(fields[kLink], QStringLiteral("#"));
        }
        break;
    case Role::Item:
        if (open.slot >= 0)
            m_kept[open.belowChannel][std::size_t(open.slot)] = readRssItem(fields);
        break;
    case Role::AtomEntry:
    case Role::AtomFeed: {
        const XmlNode& title = fields[kTitle];
        // The kept alternate links: one to a page if there is one, else one of another type.
        const XmlNode& alternate = fields[kHtmlLink].isNull() ? fields[kLink] : fields[kHtmlLink];
        const QString link =
            alternate.getAttribute("href").value_or(QString()).trimmed();
        // An entry's date is when it was published, else when it was updated; a feed's when
        // it was updated. Each kind keeps its first element of either name (published or
        // issued, updated or modified).
        XmlNode date = open.role == Role::AtomEntry ? fields[kDate] : fields[kUpdated];
        if (date.isNull() && open.role == Role::AtomEntry)
            date = fields[kUpdated];
        if (open.role == Role::AtomFeed) {
            m_feed.title = atomText(title).value_or(QStringLiteral("No Title"));
            m_feed.plainTitle = atomText(title, true).value_or(QStringLiteral("No Title"));
            if (!date.isNull())
                m_feed.buildDate = displayDate(date.text());
            const XmlNode& image = fields[kLogo].isNull() ? fields[kIcon] : fields[kLogo];
            m_feed.imageUrl = image.text();
            if (!link.isEmpty())
                m_feed.imageLink = link;
            break;
        }
        if (open.slot < 0)
            break;
        FeedItem item;
        item.title = atomText(title).value_or(QString());
        if (!link.isEmpty())
            item.link = link;
        if (!date.isNull())
            item.date = displayDate(date.text());
        std::optional<QString> description;
        const XmlNode& content = fields[kDescription];
        if (!content.getAttribute("src"))
            description = atomText(content);
        if (!description)
            description = atomText(fields[kSummary]);
        if (description)
            item.description = *description;
        m_kept[1][std::size_t(open.slot)] = std::move(item);
        break;
    }
    default:
        break;
    }
}

bool XmlFeedReader::elementEnded(XmlNode element) {
    // In a damaged document libxml2 may end an element whose descendants it never ended:
    // they end with it, kept. An end without a start of ours leaves everything alone.
    const auto match = std::find_if(m_open.rbegin(), m_open.rend(),
                                    [&](const Open& open) { return open.node == element; });
    if (match == m_open.rend())
        return false;
    while (!(m_open.back().node == element)) {
        endRecord(m_open.back());
        m_open.pop_back();
    }
    const Open open = std::move(m_open.back());
    m_open.pop_back();
    endRecord(open);
    switch (open.role) {
    case Role::Field:
    case Role::AtomFeed:
        return false;
    case Role::Other:
        // Inside a text an element is kept for its text (an empty one has none), inside an
        // Atom text for its markup; anything else no one reads.
        return !open.insideField || (!open.markup && element.childNodes().empty());
    default:
        return !open.insideField;
    }
}

void XmlFeedReader::finishOpenElements() {
    while (!m_open.empty()) {
        const Open open = std::move(m_open.back());
        m_open.pop_back();
        endRecord(open);
    }
}

Feed XmlFeedReader::takeFeed() {
    if (!m_hasFeedElement && m_itemsSeen == 0)
        return Feed();
    m_feed.format = m_atom ? FeedFormat::Atom : FeedFormat::Rss;
    // Items below a channel first, then the others, as many as the article limit allows
    // (the first item below a channel always).
    const bool belowChannel = !m_kept[1].empty();
    const std::size_t total =
        std::size_t(belowChannel ? std::max(m_limit, 1) : std::max(m_limit, 0));
    for (int category : {1, 0})
        for (std::optional<FeedItem>& item : m_kept[category])
            if (item && m_feed.items.size() < total)
                m_feed.items.push_back(std::move(*item));
    return std::move(m_feed);
}

} // namespace quorvel
