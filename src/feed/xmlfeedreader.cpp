#include "xmlfeedreader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "feed/feedtext.h"

namespace quorvel {

namespace {

const char kAtom10[] = "http://www.w3.org/2005/Atom";
const char kAtom03[] = "http://purl.org/atom/ns#";

// Field kinds, one bit each in Record::fieldsKept: only the first of each kind is kept.
enum FieldKind : int {
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

using Field = XmlFeedReader::Field;

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// UTF-8 text without its leading and trailing XML white space.
QString trimmedText(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isXmlSpace(text[begin]))
        ++begin;
    while (end > begin && isXmlSpace(text[end - 1]))
        --end;
    return QString::fromUtf8(text.data() + begin, qsizetype(end - begin));
}

QString textOf(const Field& field) {
    return trimmedText(field.text);
}

QString textOr(const Field* field, const QString& fallback) {
    return field == nullptr ? fallback : textOf(*field);
}

// Character data as libxml2's serialiser writes it inside an element.
void appendEscapedText(std::string* out, const char* text, std::size_t length) {
    const char* run = text;
    const char* const end = text + length;
    for (const char* p = text; p < end; ++p) {
        const char* escaped = *p == '&'    ? "&amp;"
                              : *p == '<'  ? "&lt;"
                              : *p == '>'  ? "&gt;"
                              : *p == '\r' ? "&#13;"
                                           : nullptr;
        if (escaped == nullptr)
            continue;
        out->append(run, std::size_t(p - run));
        out->append(escaped);
        run = p + 1;
    }
    out->append(run, std::size_t(end - run));
}

// A channel's or item's title: its plain <title>, else a namespaced one such as <dc:title>.
QString rssTitle(const Field* title, const Field* otherTitle, const QString& fallback) {
    return textOr(title ? title : otherTitle, fallback);
}

bool isWebUrl(const QString& text) {
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

// ---- Atom -------------------------------------------------------------------------------

bool isHtmlType(std::string_view type) {
    return type == "html" || type == "text/html";
}
bool isXhtmlType(std::string_view type) {
    return type == "xhtml" || type == "application/xhtml+xml";
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowerTrimmed(std::string_view text) {
    std::string out(trimmed(text));
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

// The XHTML inside an Atom text: the content of its wrapping div (or its own content).
QString xhtmlOf(const Field& field) {
    std::string escaped;
    std::string_view xml = field.xml;
    if (field.childElements == 0) {
        appendEscapedText(&escaped, field.text.data(), field.text.size());
        xml = escaped;
    } else if (field.childElements == 1 && field.firstChildIsDiv) {
        xml = field.divBegin < 0 ? std::string_view()
                                 : xml.substr(std::size_t(field.divBegin),
                                              std::size_t(field.divEnd - field.divBegin));
    }
    return QString::fromUtf8(xml.data(), qsizetype(xml.size())).trimmed();
}

// An alternate link to a page (no type, or an HTML one) rather than to another document.
bool isHtmlLink(const XmlStartTag& link, std::string* scratch) {
    if (!link.attribute("type", scratch))
        return true;
    return scratch->empty() || lowerTrimmed(*scratch).find("html") != std::string::npos;
}

// An Atom text construct as an HTML fragment (plain = false) or as the document writes it
// (plain = true); nullopt for content of a type that is no text (an image, a document).
std::optional<QString> atomText(const Field* field, bool plain = false) {
    if (field == nullptr)
        return std::nullopt;
    const std::string type = lowerTrimmed(field->type);
    const std::string_view mode = trimmed(field->mode);
    const bool hasElements = field->childElements > 0;
    if (isXhtmlType(type) || (mode == "xml" && hasElements))
        return xhtmlOf(*field);
    QString text = textOf(*field);
    if (mode == "base64")
        text = QString::fromUtf8(QByteArray::fromBase64(text.toLatin1())).trimmed();
    if (isHtmlType(type))
        return hasElements ? xhtmlOf(*field) : text;
    if (!type.empty() && type != "text" && type.compare(0, 5, "text/") != 0)
        return std::nullopt;
    return plain ? text : escapeHtmlText(text);
}

} // namespace

XmlFeedReader::XmlFeedReader(int articleLimit, QUrl address, const std::atomic<bool>* cancel)
    : m_limit(articleLimit), m_address(std::move(address)), m_cancel(cancel) {}

bool XmlFeedReader::stopped() const {
    return m_cancel != nullptr && m_cancel->load(std::memory_order_relaxed);
}

int XmlFeedReader::fieldOf(const Record& record, const XmlStartTag& tag) const {
    if (m_atom) {
        if (!tag.inNamespace(m_atomNamespace.constData()))
            return -1;
        auto is = [&](const char* name) { return tag.hasLocalName(name); };
        if (is("title"))
            return kTitle;
        if (is("link")) {
            if (tag.attribute("rel", &m_scratch)) {
                const std::string_view rel = trimmed(m_scratch);
                if (rel != "alternate" && rel != "http://www.iana.org/assignments/relation/alternate")
                    return -1;
            }
            return isHtmlLink(tag, &m_scratch) ? kHtmlLink : kLink;
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
        if (tag.hasName("title"))
            return kTitle;
        if (tag.hasLocalName("title"))
            return kOtherTitle;
        if (tag.hasName("lastBuildDate"))
            return kDate;
        return -1;
    case Role::Image:
        if (tag.hasName("url"))
            return kUrl;
        if (tag.hasName("link"))
            return kLink;
        return -1;
    case Role::Item:
        if (tag.hasName("title"))
            return kTitle;
        if (tag.hasLocalName("title"))
            return kOtherTitle;
        if (tag.hasName("link"))
            return kLink;
        if (tag.hasName("pubDate"))
            return kDate;
        if (tag.hasName("description"))
            return kDescription;
        if (tag.hasName("guid"))
            return kGuid;
        return -1;
    default:
        return -1;
    }
}

int XmlFeedReader::openRecord(Role role) {
    if (std::size_t(m_recordDepth) == m_records.size())
        m_records.emplace_back();
    Record& record = m_records[std::size_t(m_recordDepth)];
    record.role = role;
    record.fieldsKept = 0;
    record.belowChannel = false;
    record.slot = -1;
    record.sequence = 0;
    return m_recordDepth++;
}

void XmlFeedReader::startItem(Record* record, bool belowChannel) {
    ++m_itemsSeen;
    record->belowChannel = belowChannel;
    const int quota = belowChannel ? std::max(m_limit, 1) : std::max(m_limit, 0);
    const int seq = m_seen[belowChannel]++;
    if (seq < quota) {
        record->slot = seq;
        m_kept[belowChannel].resize(std::size_t(seq) + 1);
    }
}

void XmlFeedReader::startField(Record* record, int kind, const XmlStartTag& tag, Open* open) {
    record->fieldsKept |= 1u << kind;
    // Fields are reused from record to record: their buffers keep their capacity.
    Field& field = record->fields[kind];
    field.text.clear();
    field.xml.clear();
    field.childElements = 0;
    field.firstChildIsDiv = false;
    field.divBegin = field.divEnd = -1;
    field.type.clear();
    field.mode.clear();
    field.href.clear();
    field.permaLink = field.isPermaLink = false;
    field.hasSrc = false;
    if (!field.base.isEmpty())
        field.base.clear();
    open->role = Role::Field;
    open->insideField = true;
    open->markup = m_atom;
    m_field = &field;
    if (!tag.hasAttributes())
        return;
    if (kind == kGuid) {
        field.permaLink = tag.attribute("isPermaLink", &m_scratch);
        if (field.permaLink)
            field.isPermaLink = lowerTrimmed(m_scratch) != "false";
    } else if (m_atom) {
        // One pass over the attributes: an attribute without a prefix wins over one with.
        unsigned seen = 0, unprefixed = 0;
        for (int i = 0; i < tag.attributeCount(); ++i) {
            const char* name = tag.attributeLocalName(i);
            const unsigned bit = !std::strcmp(name, "type")   ? 1u
                                 : !std::strcmp(name, "mode") ? 2u
                                 : !std::strcmp(name, "href") ? 4u
                                 : !std::strcmp(name, "src")  ? 8u
                                                              : 0u;
            const bool prefixed = tag.attributeHasPrefix(i);
            if (bit == 0 || (unprefixed & bit) || (prefixed && (seen & bit)))
                continue;
            seen |= bit;
            if (!prefixed)
                unprefixed |= bit;
            if (bit == 8u)
                field.hasSrc = true;
            else
                tag.attributeValue(i, bit == 1u ? &field.type : bit == 2u ? &field.mode : &field.href);
        }
    }
}

void XmlFeedReader::startRss(const XmlStartTag& tag, Open* open) {
    if (tag.hasName("channel")) {
        open->role = Role::Channel;
        open->record = openRecord(Role::Channel);
        m_records[std::size_t(open->record)].sequence = ++m_channels;
        ++m_channelDepth;
        m_hasFeedElement = true;
    } else if (tag.hasName("item")) {
        open->role = Role::Item;
        open->record = openRecord(Role::Item);
        startItem(&m_records[std::size_t(open->record)], m_channelDepth > 0);
    } else if (m_channelDepth > 0 && tag.hasName("image")) {
        open->role = Role::Image;
        open->record = openRecord(Role::Image);
        m_records[std::size_t(open->record)].sequence = ++m_images;
    }
}

void XmlFeedReader::startAtom(const XmlStartTag& tag, Open* open, const Open* parent) {
    // Most elements have no xml:base of their own: they share their parent's by index.
    open->base = parent ? parent->base : -1;
    if (tag.hasAttributes()) {
        if (tag.attribute("xml:base", &m_scratch)) {
            const QUrl& outer = open->base < 0 ? m_address : m_bases[std::size_t(open->base)];
            m_bases.push_back(outer.resolved(QUrl(trimmedText(m_scratch))));
            open->base = int(m_bases.size()) - 1;
            open->ownsBase = true;
        }
    }
    if (open->role == Role::Field) {
        if (open->base >= 0)
            m_field->base = m_bases[std::size_t(open->base)];
        // Resolved here, where the xml:base of every ancestor is known; without one the
        // page resolves the link against the feed's address.
        if (open->base >= 0 && tag.hasLocalName("link") && tag.attribute("href")) {
            const QUrl& base = m_bases[std::size_t(open->base)];
            if (!base.isEmpty())
                m_field->href = base.resolved(QUrl(trimmedText(m_field->href)))
                                    .toString(QUrl::FullyEncoded)
                                    .toStdString();
        }
    }
    if (parent != nullptr && parent->role == Role::AtomFeed && !open->insideField &&
        tag.isNamed(m_atomNamespace.constData(), "entry")) {
        open->role = Role::AtomEntry;
        open->record = openRecord(Role::AtomEntry);
        startItem(&m_records[std::size_t(open->record)], true);
    }
}

void XmlFeedReader::closeStartTag(Open* open) {
    if (!open->tagOpen)
        return;
    open->tagOpen = false;
    m_field->xml += '>';
    if (open->fieldChild && m_field->childElements == 1 && m_field->firstChildIsDiv)
        m_field->divBegin = std::ptrdiff_t(m_field->xml.size());
}

void XmlFeedReader::startMarkupElement(const XmlStartTag& tag, Open* open, const Open& parent) {
    Field& field = *m_field;
    if (field.childElements == 0 && parent.role == Role::Field)
        appendEscapedText(&field.xml, field.text.data(), field.text.size());
    if (parent.role == Role::Field) {
        open->fieldChild = true;
        if (++field.childElements == 1)
            field.firstChildIsDiv = tag.hasLocalName("div");
    }
    closeStartTag(&m_open.back());
    tag.appendXml(&field.xml);
    open->tagOpen = true;
    open->prefix = tag.prefix();
    open->localName = tag.localName();
}

void XmlFeedReader::startElement(const XmlStartTag& tag) {
    Open open;
    Open* parent = m_open.empty() ? nullptr : &m_open.back();
    if (parent == nullptr) {
        for (const char* ns : {kAtom10, kAtom03, ""}) {
            if (tag.isNamed(ns, "feed")) {
                m_atom = true;
                m_atomNamespace = ns;
                m_hasFeedElement = true;
                open.role = Role::AtomFeed;
                open.record = openRecord(Role::AtomFeed);
                break;
            }
        }
    } else if (parent->insideField) {
        open.insideField = true;
        open.markup = parent->markup;
        if (open.markup)
            startMarkupElement(tag, &open, *parent);
    } else if (parent->record >= 0) {
        Record& record = m_records[std::size_t(parent->record)];
        // An item past the article limit is counted, never read.
        const bool unread = record.slot < 0 && (record.role == Role::Item ||
                                                record.role == Role::AtomEntry);
        const int kind = unread ? -1 : fieldOf(record, tag);
        if (kind >= 0 && !(record.fieldsKept & (1u << kind)))
            startField(&record, kind, tag, &open);
    }
    if (m_atom)
        startAtom(tag, &open, parent);
    else if (open.role == Role::Other)
        startRss(tag, &open);
    m_open.push_back(open);
    takesText = open.insideField;
}

void XmlFeedReader::characters(const char* utf8, int length) {
    Field& field = *m_field;
    field.text.append(utf8, std::size_t(length));
    if (field.childElements > 0) {
        closeStartTag(&m_open.back());
        appendEscapedText(&field.xml, utf8, std::size_t(length));
    }
}

void XmlFeedReader::endRecord(const Record& record) {
    static_assert(kFieldCount == kFieldKinds);
    auto field = [&](int kind) { return record.field(kind); };
    switch (record.role) {
    case Role::Channel:
        --m_channelDepth;
        if (record.sequence == m_channels) {
            m_feed.title = rssTitle(field(kTitle), field(kOtherTitle), QStringLiteral("No Title"));
            m_feed.plainTitle = m_feed.title;
            m_feed.buildDate = textOr(field(kDate), QStringLiteral("No Date"));
        }
        break;
    case Role::Image:
        if (record.sequence == m_images) {
            m_feed.imageUrl = textOr(field(kUrl), QString());
            m_feed.imageLink = textOr(field(kLink), QStringLiteral("#"));
        }
        break;
    case Role::Item: {
        if (record.slot < 0)
            break;
        FeedItem item;
        item.title = rssTitle(field(kTitle), field(kOtherTitle), QString());
        const Field* link = field(kLink);
        if (link != nullptr)
            item.link = textOf(*link);
        if (link == nullptr || item.link.isEmpty()) {
            // A permanent guid is the item's address when it names no link.
            const Field* guid = field(kGuid);
            if (guid != nullptr && (!guid->permaLink || guid->isPermaLink)) {
                const QString text = textOf(*guid);
                if (isWebUrl(text))
                    item.link = text;
            }
        }
        item.date = textOr(field(kDate), QString());
        item.description = textOr(field(kDescription), QStringLiteral("No Description"));
        m_kept[record.belowChannel][std::size_t(record.slot)] = std::move(item);
        break;
    }
    case Role::AtomEntry:
    case Role::AtomFeed: {
        const bool entry = record.role == Role::AtomEntry;
        // The kept alternate links: one to a page if there is one, else one of another type.
        const Field* alternate = field(kHtmlLink) ? field(kHtmlLink) : field(kLink);
        const QString link =
            alternate ? trimmedText(alternate->href) : QString();
        // An entry's date is when it was published, else when it was updated; a feed's when
        // it was updated. Each kind keeps its first element of either name (published or
        // issued, updated or modified).
        const Field* date = entry && field(kDate) ? field(kDate) : field(kUpdated);
        if (!entry) {
            m_feed.title = atomText(field(kTitle)).value_or(QStringLiteral("No Title"));
            m_feed.plainTitle = atomText(field(kTitle), true).value_or(QStringLiteral("No Title"));
            if (date != nullptr)
                m_feed.buildDate = displayDate(date->text);
            const Field* image = field(kLogo) ? field(kLogo) : field(kIcon);
            m_feed.imageUrl = textOr(image, QString());
            if (!link.isEmpty())
                m_feed.imageLink = link;
            break;
        }
        if (record.slot < 0)
            break;
        FeedItem item;
        item.title = atomText(field(kTitle)).value_or(QString());
        if (!link.isEmpty())
            item.link = link;
        if (date != nullptr)
            item.date = displayDate(date->text);
        std::optional<QString> description;
        const Field* content = field(kDescription);
        if (content == nullptr || !content->hasSrc)
            description = atomText(content);
        const Field* from = content;
        if (!description) {
            from = field(kSummary);
            description = atomText(from);
        }
        if (description) {
            item.description = *description;
            item.base = from->base;
        }
        m_kept[1][std::size_t(record.slot)] = std::move(item);
        break;
    }
    default:
        break;
    }
}

void XmlFeedReader::end(Open open) {
    if (open.ownsBase)
        m_bases.pop_back();
    if (open.markup && open.role == Role::Other) {
        std::string& xml = m_field->xml;
        if (open.fieldChild && m_field->childElements == 1 && m_field->firstChildIsDiv)
            m_field->divEnd = std::ptrdiff_t(xml.size());
        if (open.tagOpen) {
            xml += "/>";
        } else {
            xml += "</";
            if (open.prefix != nullptr)
                xml.append(open.prefix).append(1, ':');
            xml.append(open.localName).append(1, '>');
        }
    }
    if (open.role == Role::Field)
        m_field = nullptr;
    if (open.record >= 0) {
        endRecord(m_records[std::size_t(open.record)]);
        --m_recordDepth;
    }
}

void XmlFeedReader::endElement() {
    if (m_open.empty())
        return;
    const Open open = m_open.back();
    m_open.pop_back();
    end(open);
    takesText = !m_open.empty() && m_open.back().insideField;
}

void XmlFeedReader::documentEnded() {
    while (!m_open.empty())
        endElement();
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
