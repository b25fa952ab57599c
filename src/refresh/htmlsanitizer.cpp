#include "htmlsanitizer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <libxml/HTMLparser.h>

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace quorvel {

namespace {

// Limits that keep the work and the page bounded whatever a feed sends. Elements nested
// deeper than kMaxDepth lose their tags (their text stays); in the part of a fragment beyond
// kMaxMarkupBytes tags are not read as markup but kept as text.
constexpr std::size_t kMaxDepth = 256;
constexpr std::size_t kMaxMarkupBytes = std::size_t(4) << 20;

enum class Treatment { Keep, Drop, Unwrap };

constexpr std::string_view keptElements[] = {
    "a",      "abbr",  "b",     "big",   "blockquote", "br",   "caption", "center",  "cite",
    "code",   "dd",    "del",   "dfn",   "div",        "dl",   "dt",      "em",      "figcaption",
    "figure", "font",  "h1",    "h2",    "h3",         "h4",   "h5",      "h6",      "hr",
    "i",      "img",   "ins",   "kbd",   "li",         "ol",   "p",       "picture", "pre",
    "q",      "s",     "samp",  "small", "source",     "span", "strike",  "strong",  "sub",
    "sup",    "table", "tbody", "td",    "tfoot",      "th",   "thead",   "time",    "tr",
    "tt",     "u",     "ul",    "var",
};

// Elements dropped together with everything inside them: what they hold is code, not text
// (head and title only arrive when a feed embeds a whole document).
constexpr std::string_view droppedElements[] = {
    "applet", "head", "math", "noscript", "script", "style", "svg", "template", "title",
};
// Every other element (iframe, object, embed, form and its controls, meta, link, base and
// unknown ones) loses its tags and keeps its text.

// HTML's void elements: they never hold anything in the output.
constexpr std::string_view voidElements[] = {"area", "base",  "br",     "col",    "embed",
                                             "hr",   "img",   "input",  "keygen", "link",
                                             "meta", "param", "source", "track",  "wbr"};

// The elements HTML 4 declares empty: their start tag closes them at once. (embed, source,
// track and wbr are not among them, so what follows them is read as their content until
// something closes them.)
constexpr std::string_view emptyElements[] = {"area",  "base", "basefont", "br",    "col",
                                              "frame", "hr",   "img",      "input", "isindex",
                                              "link",  "meta", "param"};

// Start tags that close the innermost open element when it is one of those listed after
// them (a <p> ends an open paragraph, a <td> an open cell...), applied again and again.
constexpr std::string_view startCloses[][2] = {
    {"body", "head style link title p"},
    {"head", "p"},
    {"a", "a head"},
    {"abbr", "head"},
    {"acronym", "head"},
    {"address", "head p ul"},
    {"b", "head"},
    {"bdo", "head"},
    {"big", "head"},
    {"blockquote", "head p"},
    {"br", "head"},
    {"caption", "p"},
    {"center", "b font head i p"},
    {"cite", "head"},
    {"code", "head"},
    {"col", "caption p"},
    {"colgroup", "caption colgroup p"},
    {"dd", "address dir dt head menu p pre listing xmp"},
    {"dfn", "head"},
    {"dir", "head p"},
    {"div", "head p"},
    {"dl", "address dir dt head menu p pre listing xmp"},
    {"dt", "address dd dir head menu p pre listing xmp"},
    {"em", "head"},
    {"fieldset", "a h1 h2 h3 h4 h5 h6 head legend p pre listing xmp"},
    {"font", "head"},
    {"form", "address dir dl form h1 h2 h3 h4 h5 h6 head menu ol p pre ul listing xmp"},
    {"frameset", "head p style title"},
    {"h1", "head p"},
    {"h2", "head p"},
    {"h3", "head p"},
    {"h4", "head p"},
    {"h5", "head p"},
    {"h6", "head p"},
    {"hr", "head p"},
    {"i", "head"},
    {"iframe", "head"},
    {"img", "head"},
    {"kbd", "head"},
    {"li", "address dl h1 h2 h3 h4 h5 h6 head li p pre listing xmp"},
    {"listing", "head p"},
    {"map", "head"},
    {"menu", "head p ul"},
    {"noscript", "script"},
    {"ol", "head p ul"},
    {"optgroup", "option"},
    {"option", "option"},
    {"p", "b big h1 h2 h3 h4 h5 h6 head i p s small strike tt u"},
    {"pre", "head p ul"},
    {"q", "head"},
    {"s", "head"},
    {"samp", "head"},
    {"small", "head"},
    {"span", "head"},
    {"strike", "head"},
    {"strong", "head"},
    {"sub", "head"},
    {"sup", "head"},
    {"table", "a h1 h2 h3 h4 h5 h6 head p pre listing xmp"},
    {"tbody", "caption colgroup p tbody td tfoot th thead tr"},
    {"td", "a b font i p span td th u"},
    {"tfoot", "caption colgroup p tbody td th thead tr"},
    {"th", "a b font i p span td th u"},
    {"thead", "caption colgroup"},
    {"title", "p"},
    {"tr", "caption colgroup p td th tr"},
    {"tt", "head"},
    {"u", "head"},
    {"ul", "address dir head menu ol p pre listing xmp"},
    {"var", "head"},
    {"xmp", "head p"},
};

// How far a stray end tag may reach: it closes the elements opened inside its own element
// only when none of them ranks higher (a </b> does not end a table cell it began outside).
// Every other element ranks lowest.
constexpr std::string_view endRanks[] = {
    "div", "td th", "tr", "thead tbody tfoot", "table", "head body", "html",
};
constexpr int kRankLevels = int(std::size(endRanks)) + 1;

// Attributes kept on every kept element; URL attributes pass cleanUrl as well.
constexpr std::string_view keptAttributes[] = {
    "align", "alt",  "border",  "cite", "colspan", "dir",   "height",
    "href",  "lang", "rowspan", "src",  "srcset",  "title", "width",
};

template <std::size_t N> bool contains(const std::string_view (&list)[N], std::string_view name) {
    for (std::string_view entry : list)
        if (entry == name)
            return true;
    return false;
}

bool isAttributeKept(std::string_view element, std::string_view attribute) {
    if (contains(keptAttributes, attribute))
        return true;
    if ((element == "ol" || element == "ul" || element == "li") &&
        (attribute == "type" || attribute == "start"))
        return true;
    if (element == "source" &&
        (attribute == "type" || attribute == "media" || attribute == "sizes"))
        return true;
    if (element == "img" && attribute == "sizes")
        return true;
    if (element == "time" && attribute == "datetime")
        return true;
    return element == "font" &&
           (attribute == "color" || attribute == "face" || attribute == "size");
}

bool isUrlAttribute(std::string_view attribute) {
    return attribute == "href" || attribute == "src" || attribute == "cite";
}

void appendEscaped(std::string* out, const char* text, std::size_t length, bool inAttribute) {
    for (const char* p = text; p != text + length; ++p) {
        switch (*p) {
        case '&':
            out->append("&amp;");
            break;
        case '<':
            out->append("&lt;");
            break;
        case '>':
            out->append("&gt;");
            break;
        case '"':
            if (inAttribute)
                out->append("&quot;");
            else
                out->push_back('"');
            break;
        default:
            out->push_back(*p);
        }
    }
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

enum class UrlKind { Relative, Web, Mail, ImageData, Other };

bool isIgnoredInScheme(char16_t c) {
    return c <= 0x20 || c == 0x7F;
}

UrlKind urlKind(QStringView url) {
    // Browsers ignore white space and control characters inside a scheme
    // ("java\tscript:"), so they are skipped while the scheme is read.
    char scheme[8];
    int length = 0;
    qsizetype i = 0;
    for (;; ++i) {
        if (i == url.size())
            return UrlKind::Relative; // no ':' at all
        const char16_t c = url[i].unicode();
        if (isIgnoredInScheme(c))
            continue;
        if (c == ':')
            break;
        // Text before ':' that is no scheme makes the browser read the URL as relative, and
        // a ':' after '/', '?' or '#' belongs to a path, query or fragment.
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digitOrMark = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && (length == 0 || !digitOrMark))
            return UrlKind::Relative;
        if (length < int(sizeof scheme))
            scheme[length] = char(c | 0x20);
        ++length;
    }
    if (length == 0)
        return UrlKind::Relative;
    const std::string_view name(scheme, std::size_t(std::min(length, int(sizeof scheme))));
    if (length > int(sizeof scheme))
        return UrlKind::Other;
    if (name == "http" || name == "https")
        return UrlKind::Web;
    if (name == "mailto")
        return UrlKind::Mail;
    if (name != "data")
        return UrlKind::Other;
    constexpr std::string_view image = "image/";
    std::size_t matched = 0;
    for (++i; i < url.size() && matched < image.size(); ++i) {
        const char16_t c = url[i].unicode();
        if (isIgnoredInScheme(c))
            continue;
        if (c >= 0x80 || char(c < 'A' || c > 'Z' ? c : c | 0x20) != image[matched])
            return UrlKind::Other;
        ++matched;
    }
    return matched == image.size() ? UrlKind::ImageData : UrlKind::Other;
}

// The address a fragment's relative URLs are resolved against; only a web address serves
// (a feed read from a file leaves them relative, and the view reaches no local file).
struct UrlBase {
    QUrl url;
    bool usable = false;
    // User info ("user:pass@") of the feed's address stays out of every resolved link.
    explicit UrlBase(const QUrl& base) : url(base.adjusted(QUrl::RemoveUserInfo)) {
        const QString scheme = base.scheme();
        usable = base.isValid() && (scheme.compare(u"http", Qt::CaseInsensitive) == 0 ||
                                    scheme.compare(u"https", Qt::CaseInsensitive) == 0);
    }
};

// A plain relative path ("img/a.png", "/posts/1"): unreserved characters and '/' only, no
// dot segments and no authority, so joining it to the base's text is what resolving does.
bool isPlainRelativePath(const QString& url) {
    if (url.startsWith(QLatin1String("//")) || url.startsWith(QLatin1String("./")) ||
        url.startsWith(QLatin1String("../")) || url == u'.' || url == QLatin1String("..") ||
        url.contains(QLatin1String("/./")) || url.contains(QLatin1String("/../")) ||
        url.endsWith(QLatin1String("/.")) || url.endsWith(QLatin1String("/..")))
        return false;
    for (QChar c : url) {
        const char16_t u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
              u == '-' || u == '.' || u == '_' || u == '~' || u == '/'))
            return false;
    }
    return true;
}

// Resolves a relative URL against a web base; nothing when the result is no web URL. Feeds
// hold many relative paths under one address, so the base's origin and folder are kept per
// thread and plain paths are joined to them; anything else goes through QUrl.
std::optional<QString> resolveAgainst(const UrlBase& base, const QString& relative) {
    struct Prefixes {
        QUrl base;
        QString origin; // "http://host:port"
        QString folder; // the base up to and including the last '/' of its path
    };
    thread_local Prefixes cached;
    if (isPlainRelativePath(relative)) {
        if (cached.base != base.url) {
            cached.base = base.url;
            const QString whole =
                base.url.toString(QUrl::FullyEncoded | QUrl::RemoveQuery | QUrl::RemoveFragment);
            cached.origin = base.url.toString(QUrl::FullyEncoded | QUrl::RemovePath |
                                              QUrl::RemoveQuery | QUrl::RemoveFragment);
            cached.folder = base.url.path().isEmpty() ? cached.origin + u'/'
                                                      : whole.left(whole.lastIndexOf(u'/') + 1);
        }
        return relative.startsWith(u'/') ? cached.origin + relative : cached.folder + relative;
    }
    const QUrl resolved = base.url.resolved(QUrl(relative));
    QString text = resolved.isValid() ? resolved.toString(QUrl::FullyEncoded) : QString();
    if (urlKind(text) != UrlKind::Web)
        return std::nullopt;
    return text;
}

// The value to write for a URL, or nothing when the URL must go: web URLs and mail addresses stay,
// image data only where an image is loaded, relative ones are resolved; every other scheme
// (javascript:, file:, data:text/html...) is dropped.
std::optional<QString> cleanUrl(const QString& url, bool imageContext, const UrlBase& base) {
    switch (urlKind(url)) {
    case UrlKind::Web:
        return url;
    case UrlKind::Mail: {
        // Only the address: header fields after '?' could preset a subject, a body or an
        // attachment (?attach=/home/...) in the mail program.
        const qsizetype end = url.indexOf(QRegularExpression(QStringLiteral("[?#]")));
        return end < 0 ? url : url.left(end);
    }
    case UrlKind::ImageData:
        return imageContext ? std::optional<QString>(url) : std::nullopt;
    case UrlKind::Other:
        return std::nullopt;
    case UrlKind::Relative:
        break;
    }
    // An in-page anchor ("#", "#top") points into the page the text is shown in.
    const QString trimmed = url.trimmed();
    if (!base.usable || trimmed.isEmpty() || trimmed.startsWith(u'#'))
        return url;
    return resolveAgainst(base, trimmed);
}

// A srcset's candidates ("url [descriptor], ...") with every URL cleaned; candidates whose
// URL must go are left out. Nothing when none is left.
std::optional<QString> cleanSrcset(const QString& srcset, const UrlBase& base) {
    QStringList candidates;
    const qsizetype n = srcset.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (srcset[i].isSpace() || srcset[i] == u','))
            ++i;
        const qsizetype urlStart = i;
        while (i < n && !srcset[i].isSpace())
            ++i;
        QString url = srcset.mid(urlStart, i - urlStart);
        QString descriptor;
        if (url.endsWith(u',')) {
            while (url.endsWith(u','))
                url.chop(1);
        } else {
            const qsizetype descriptorStart = i;
            while (i < n && srcset[i] != u',')
                ++i;
            descriptor = srcset.mid(descriptorStart, i - descriptorStart).trimmed();
        }
        if (url.isEmpty())
            continue;
        if (const auto clean = cleanUrl(url, true, base))
            candidates << (descriptor.isEmpty() ? *clean : *clean + u' ' + descriptor);
    }
    if (candidates.isEmpty())
        return std::nullopt;
    return candidates.join(QLatin1String(", "));
}

bool startsWithWebScheme(std::string_view value) {
    auto startsWith = [value](std::string_view prefix) {
        if (value.size() < prefix.size())
            return false;
        for (std::size_t i = 0; i < prefix.size(); ++i)
            if (lower(value[i]) != prefix[i])
                return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

// Appends ` name="value"` when the element keeps the attribute and its value is clean.
void appendAttribute(std::string* out, std::string_view element, std::string_view name,
                     std::string_view value, const UrlBase& base) {
    if (!isAttributeKept(element, name))
        return;
    const bool isUrl = isUrlAttribute(name);
    const bool isSrcset = name == "srcset";
    std::string cleaned;
    // Absolute web URLs, by far the most common, need no further look.
    if ((isUrl || isSrcset) && !(isUrl && startsWithWebScheme(value))) {
        const QString text = QString::fromUtf8(value.data(), qsizetype(value.size()));
        const bool imageContext = name == "src" && (element == "img" || element == "source");
        const std::optional<QString> clean =
            isSrcset ? cleanSrcset(text, base) : cleanUrl(text, imageContext, base);
        if (!clean)
            return;
        cleaned = clean->toStdString();
        value = cleaned;
    }
    out->push_back(' ');
    out->append(name);
    out->append("=\"");
    appendEscaped(out, value.data(), value.size(), true);
    out->push_back('"');
}

// ---- Elements ----------------------------------------------------------------------------

// What the reader and the writer need to know of an element, by a small number: every name
// the rules above mention has a fixed one; other names get one per fragment.
struct ElementInfo {
    std::string_view name;
    Treatment treatment = Treatment::Unwrap;
    bool isVoid = false;    // never holds anything in the output
    bool isEmpty = false;   // closed by its own start tag
    bool isRawText = false; // script and style: their text is not markup
    int rank = 0;           // reach of end tags, 0 = lowest
};

struct TransparentHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct ElementTable {
    std::vector<ElementInfo> info;
    std::unordered_map<std::string_view, int> ids;
    std::vector<std::vector<bool>> closes; // closes[started][innermost]
    int html = 0, body = 0, head = 0, p = 0;

    int add(std::string_view name) {
        if (const auto it = ids.find(name); it != ids.end())
            return it->second;
        const int id = int(info.size());
        info.push_back({name});
        ids.emplace(name, id);
        return id;
    }

    template <typename F> static void forEachWord(std::string_view words, F f) {
        while (!words.empty()) {
            const std::size_t space = words.find(' ');
            f(words.substr(0, space));
            words = space == std::string_view::npos ? std::string_view() : words.substr(space + 1);
        }
    }

    ElementTable() {
        for (std::string_view name : keptElements)
            info[add(name)].treatment = Treatment::Keep;
        for (std::string_view name : droppedElements)
            info[add(name)].treatment = Treatment::Drop;
        for (std::string_view name : voidElements)
            info[add(name)].isVoid = true;
        for (std::string_view name : emptyElements)
            info[add(name)].isEmpty = true;
        for (int rank = 1; rank < kRankLevels; ++rank)
            forEachWord(endRanks[rank - 1],
                        [&](std::string_view name) { info[add(name)].rank = rank; });
        for (const auto& rule : startCloses) {
            add(rule[0]);
            forEachWord(rule[1], [&](std::string_view name) { add(name); });
        }
        html = add("html");
        body = add("body");
        head = add("head");
        p = add("p");
        info[add("script")].isRawText = true;
        info[add("style")].isRawText = true;
        closes.assign(info.size(), std::vector<bool>(info.size(), false));
        for (const auto& rule : startCloses) {
            const int started = ids.at(rule[0]);
            forEachWord(rule[1],
                        [&](std::string_view name) { closes[started][ids.at(name)] = true; });
        }
    }
};

const ElementTable& elements() {
    static const ElementTable table;
    return table;
}

// HTML 4's named character references, taken from libxml2's table once.
const std::unordered_map<std::string_view, char32_t>& namedEntities() {
    static const auto table = [] {
        std::unordered_map<std::string_view, char32_t> entities;
        for (unsigned value = 1; value < 10000; ++value) // the highest is 9830
            if (const htmlEntityDesc* entity = htmlEntityValueLookup(value))
                entities.emplace(entity->name, entity->value);
        return entities;
    }();
    return table;
}

void appendUtf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | (c >> 6)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(char(0xE0 | (c >> 12)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (c >> 18)));
        out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

// The characters XML and the page allow.
bool isAllowedCharacter(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isTagNameStart(char c) {
    return isAsciiLetter(c) || c == '_' || c == ':' || c == '.';
}
bool isTagNameChar(char c) {
    return isAsciiLetter(c) || isDigit(c) || c == ':' || c == '-' || c == '_' || c == '.';
}
// Reference names: non-ASCII characters count as letters; no known name has any, so where
// such a name ends changes nothing in the text.
bool isReferenceNameStart(char c) {
    return isAsciiLetter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool isReferenceNameChar(char c) {
    return isReferenceNameStart(c) || isDigit(c) || c == '.' || c == '-';
}

// ---- Writer ------------------------------------------------------------------------------

struct Attribute {
    std::string name;
    std::string value;
};

// Writes the allowed part of the reader's events as HTML. Its own stack of open elements
// keeps the output balanced even where the events are not (a tag cut off at the end of the
// text is opened but never closed under its own name). Each entry links to the next open
// element of its name, so an end event finds its element without a search.
class Writer {
public:
    std::string out;
    bool unwrappedElement = false;

    void reset(const UrlBase* base, std::size_t sizeHint) {
        m_base = base;
        out.clear();
        out.reserve(sizeHint + 16);
        m_open.clear();
        m_innermost.clear();
        m_droppedDepth = 0;
        unwrappedElement = false;
    }

    void startElement(int id, const std::vector<Attribute>& attributes) {
        const ElementTable& table = elements();
        const ElementInfo& element = id < int(table.info.size()) ? table.info[id] : m_unknown;
        if (m_droppedDepth > 0) {
            ++m_droppedDepth;
            push(id, Treatment::Drop);
            return;
        }
        // html and body come from the wrapper the fragment is read in.
        const bool wrapper = id == table.html || id == table.body;
        const Treatment t = wrapper ? Treatment::Unwrap : element.treatment;
        if (element.isVoid) {
            if (t == Treatment::Keep)
                writeStartTag(element.name, attributes);
            else
                unwrappedElement = true;
            return;
        }
        push(id, t);
        if (t == Treatment::Drop)
            m_droppedDepth = 1;
        else if (t == Treatment::Unwrap && !wrapper)
            unwrappedElement = true;
        else if (t == Treatment::Keep)
            writeStartTag(element.name, attributes);
    }

    // Closes the innermost open element of that kind and everything opened inside it; an
    // end event for an element that is not open is ignored.
    void endElement(int id) {
        if (id >= int(m_innermost.size()) || m_innermost[id] < 0)
            return;
        const std::size_t keep = std::size_t(m_innermost[id]);
        while (m_open.size() > keep)
            closeInnermost();
    }

    void characters(const char* text, std::size_t length) {
        if (m_droppedDepth > 0)
            return;
        // Runs of ordinary bytes are copied whole; control characters and the non-characters
        // U+FFFE and U+FFFF are left out.
        const char* end = text + length;
        const char* p = text;
        while (p != end) {
            const char* run = p;
            while (p != end && !needsAttention(static_cast<unsigned char>(*p)))
                ++p;
            out.append(run, std::size_t(p - run));
            if (p == end)
                break;
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == 0xEF) {
                if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0xBF &&
                    (static_cast<unsigned char>(p[2]) & 0xFE) == 0xBE)
                    p += 2;
                else
                    out.push_back(char(c));
            } else if (c == '&') {
                out.append("&amp;");
            } else if (c == '<') {
                out.append("&lt;");
            } else if (c == '>') {
                out.append("&gt;");
            } else if (isBlank(char(c))) {
                out.push_back(char(c));
            }
            ++p;
        }
    }

    void finish() {
        while (!m_open.empty())
            closeInnermost();
    }

private:
    static bool needsAttention(unsigned char c) {
        return c < 0x20 || c == '&' || c == '<' || c == '>' || c == 0xEF;
    }

    struct Open {
        int id;
        Treatment treatment;
        int outer; // the next open element of the same kind, -1 for none
    };

    void push(int id, Treatment t) {
        if (id >= int(m_innermost.size()))
            m_innermost.resize(std::size_t(id) + 1, -1);
        m_open.push_back({id, t, m_innermost[id]});
        m_innermost[id] = int(m_open.size()) - 1;
    }

    void writeStartTag(std::string_view name, const std::vector<Attribute>& attributes) {
        out.push_back('<');
        out.append(name);
        for (const Attribute& a : attributes)
            appendAttribute(&out, name, a.name, a.value, *m_base);
        out.push_back('>');
    }

    void closeInnermost() {
        const Open e = m_open.back();
        if (e.treatment == Treatment::Drop) {
            --m_droppedDepth;
        } else if (e.treatment == Treatment::Keep) {
            out.append("</");
            out.append(elements().info[e.id].name);
            out.push_back('>');
        }
        m_innermost[e.id] = e.outer;
        m_open.pop_back();
    }

    const UrlBase* m_base = nullptr;
    std::vector<Open> m_open;
    std::vector<int> m_innermost; // per element kind, the index of its innermost open one
    int m_droppedDepth = 0;       // open elements inside (and including) a dropped one
    const ElementInfo m_unknown{};
};

// ---- Reader ------------------------------------------------------------------------------

// Reads an HTML fragment in one pass the way libxml2's HTML parser reads it (so that feeds
// look as they always did): the same tag and reference syntax, the same implied closing of
// paragraphs, list items and table cells, the same reach of stray end tags. Unlike it, it
// never searches its stack of open elements: each open element links to the next open one
// of its kind and to the next one of a higher rank, so every step costs the same whatever
// the nesting, and the work is linear in the length of the text.
class HtmlReader {
public:
    std::string read(std::string_view in, const UrlBase& base, bool* unwrapped) {
        start(in, base);
        while (m_i < m_n)
            step();
        while (!m_stack.empty())
            popWithEvent();
        m_writer.finish();
        *unwrapped = m_writer.unwrappedElement;
        return std::move(m_writer.out);
    }

private:
    struct Entry {
        int id;
        int outerSame; // the next open element of the same kind, -1 for none
        int outerRank; // the next open element of the same rank, -1 for none
    };

    void start(std::string_view in, const UrlBase& base) {
        m_in = in;
        m_n = m_in.size();
        m_i = 0;
        m_writer.reset(&base, m_n);
        m_stack.clear();
        m_innermost.assign(m_table.info.size(), -1);
        m_innermostOfRank.fill(-1);
        m_otherNames.clear();
        m_ignoredWrappers = 0;
        // The fragment is read as the content of <html><body>.
        pushWithEvent(m_table.html);
        pushWithEvent(m_table.body);
    }

    char at(std::size_t k) const { return k < m_n ? m_in[k] : '\0'; }

    void skipBlanks() {
        while (m_i < m_n && isBlank(m_in[m_i]))
            ++m_i;
    }

    // The id of an element name; names outside the table get one for this fragment.
    int idOf(std::string_view name) {
        const ElementTable& table = m_table;
        if (const auto it = table.ids.find(name); it != table.ids.end())
            return it->second;
        if (const auto it = m_otherNames.find(name); it != m_otherNames.end())
            return it->second;
        const int id = int(table.info.size() + m_otherNames.size());
        m_otherNames.emplace(std::string(name), id);
        m_innermost.push_back(-1);
        return id;
    }

    const ElementInfo& infoOf(int id) const {
        return std::size_t(id) < m_table.info.size() ? m_table.info[std::size_t(id)] : m_unknown;
    }

    int top() const { return m_stack.empty() ? -1 : m_stack.back().id; }

    void pushWithEvent(int id, const std::vector<Attribute>& attributes = {}) {
        const int rank = infoOf(id).rank;
        const int index = int(m_stack.size());
        m_stack.push_back({id, m_innermost[id], rank > 0 ? m_innermostOfRank[rank] : -1});
        m_innermost[id] = index;
        if (rank > 0)
            m_innermostOfRank[rank] = index;
        m_writer.startElement(id, attributes);
    }

    void popSilently() {
        const Entry e = m_stack.back();
        m_innermost[e.id] = e.outerSame;
        if (const int rank = infoOf(e.id).rank; rank > 0)
            m_innermostOfRank[rank] = e.outerRank;
        m_stack.pop_back();
    }

    void popWithEvent() {
        m_writer.endElement(m_stack.back().id);
        popSilently();
    }

    void step() {
        const char c = m_in[m_i];
        if (m_i >= kMaxMarkupBytes) {
            plainText();
            return;
        }
        if (c == '<' && at(m_i + 1) == '/') {
            endTag();
            return;
        }
        if (top() >= 0 && infoOf(top()).isRawText) {
            // A start tag that closes the style element (body, frameset) still counts.
            if (c == '<' && isTagNameStart(at(m_i + 1)) && at(m_i + 1) != '.') {
                const std::size_t start = m_i;
                ++m_i;
                readTagName(&m_name);
                m_i = start;
                const int id = idOf(m_name);
                if (id < int(m_table.info.size()) && m_table.closes[id][top()]) {
                    closeFor(id);
                    return;
                }
            }
            skipRawText();
            return;
        }
        // What follows a declaration is read at once, and an end tag right after it is text.
        if (c == '<' && at(m_i + 1) == '!' && isDoctype()) {
            skipDoctype();
            if (m_i < m_n)
                content();
            return;
        }
        content();
    }

    void content() {
        const char c = m_in[m_i];
        if (c == '<') {
            const char next = at(m_i + 1);
            if (next == '!' && at(m_i + 2) == '-' && at(m_i + 3) == '-')
                skipComment();
            else if (next == '?')
                skipProcessingInstruction();
            else if (isAsciiLetter(next))
                startTag();
            else {
                m_writer.characters("<", 1);
                ++m_i;
            }
            return;
        }
        if (c == '&') {
            m_decoded.clear();
            if (readReference(&m_decoded)) {
                impliedParagraph();
                m_writer.characters(m_decoded.data(), m_decoded.size());
            }
            return;
        }
        std::size_t end = m_in.find_first_of("<&", m_i);
        if (end == std::string_view::npos)
            end = m_n;
        const std::string_view text = m_in.substr(m_i, end - m_i);
        m_i = end;
        // White space right before a tag or the end opens no paragraph.
        if (needsParagraph() &&
            ((end < m_n && m_in[end] == '&') ||
             !std::all_of(text.begin(), text.end(), [](char ch) { return isBlank(ch); })))
            impliedParagraph();
        m_writer.characters(text.data(), text.size());
    }

    // Past the part read as markup, '<' is text; references still count, so that the
    // escaped text reads back as itself.
    void plainText() {
        if (m_in[m_i] == '&') {
            content();
            return;
        }
        std::size_t end = m_in.find('&', m_i);
        if (end == std::string_view::npos)
            end = m_n;
        if (needsParagraph())
            impliedParagraph();
        m_writer.characters(m_in.data() + m_i, end - m_i);
        m_i = end;
    }

    // Text straight inside <html> or <head>, or after everything was closed, goes into a
    // paragraph of its own.
    bool needsParagraph() const {
        const int innermost = top();
        return innermost < 0 || innermost == m_table.html || innermost == m_table.head;
    }

    void impliedParagraph() {
        const ElementTable& table = m_table;
        if (!needsParagraph())
            return;
        closeFor(table.p);
        if (m_stack.empty())
            pushWithEvent(table.html);
        pushWithEvent(table.p);
    }

    // The elements a start tag closes implicitly.
    void closeFor(int id) {
        const ElementTable& table = m_table;
        if (id >= int(table.info.size()))
            return;
        while (!m_stack.empty() && top() < int(table.info.size()) && table.closes[id][top()])
            popWithEvent();
    }

    bool readTagName(std::string* name) {
        if (!isTagNameStart(at(m_i))) {
            name->clear();
            return false;
        }
        // Longer names are cut at 100 characters; the rest reads as attributes.
        const std::size_t start = m_i;
        const std::size_t limit = std::min(m_n, start + 100);
        while (m_i < limit && isTagNameChar(m_in[m_i]))
            ++m_i;
        name->assign(m_in.data() + start, m_i - start);
        for (char& c : *name)
            c = lower(c);
        return true;
    }

    void startTag() {
        const ElementTable& table = m_table;
        ++m_i;
        readTagName(&m_name);
        const int id = idOf(m_name);
        closeFor(id);
        if (m_stack.empty() && id != table.html)
            pushWithEvent(table.html);
        // A second html or body and a head inside the body are ignored, and so are their
        // end tags.
        bool ignored = false;
        if ((id == table.html && !m_stack.empty()) || (id == table.head && m_stack.size() != 1) ||
            (id == table.body && m_innermost[table.body] >= 0)) {
            ignored = true;
            ++m_ignoredWrappers;
        }
        const bool tooDeep = !ignored && m_stack.size() >= kMaxDepth && !infoOf(id).isEmpty;
        readAttributes(id);
        if (!ignored && !tooDeep)
            pushWithEvent(id, m_attributes);
        if (tooDeep) {
            if (at(m_i) == '/' && at(m_i + 1) == '>')
                m_i += 2;
            else if (at(m_i) == '>')
                ++m_i;
            return;
        }
        // An ignored tag ends as if it were the innermost open element's.
        const int closed = ignored ? top() : id;
        if (at(m_i) == '/' && at(m_i + 1) == '>') {
            m_i += 2;
            m_writer.endElement(closed);
            popSilently();
        } else if (at(m_i) == '>') {
            ++m_i;
            if (infoOf(closed).isEmpty)
                popWithEvent();
        } else {
            // The text ended inside the tag.
            popSilently();
        }
    }

    void readAttributes(int element) {
        const std::string_view elementName = infoOf(element).name;
        m_attributes.clear();
        skipBlanks();
        while (m_i < m_n && m_in[m_i] != '>' && !(m_in[m_i] == '/' && at(m_i + 1) == '>')) {
            if (readTagName(&m_attributeName)) {
                skipBlanks();
                m_value.clear();
                if (at(m_i) == '=') {
                    ++m_i;
                    skipBlanks();
                    readAttributeValue(&m_value);
                }
                // Only kept attributes are of interest; of repeated ones the first counts.
                if (!elementName.empty() && isAttributeKept(elementName, m_attributeName) &&
                    std::none_of(m_attributes.begin(), m_attributes.end(),
                                 [&](const Attribute& a) { return a.name == m_attributeName; }))
                    m_attributes.push_back({m_attributeName, m_value});
            } else {
                // No name: skipped up to the next blank or the end of the tag.
                while (m_i < m_n && !isBlank(m_in[m_i]) && m_in[m_i] != '>' &&
                       !(m_in[m_i] == '/' && at(m_i + 1) == '>'))
                    ++m_i;
            }
            skipBlanks();
        }
    }

    void readAttributeValue(std::string* value) {
        char quote = 0;
        if (at(m_i) == '"' || at(m_i) == '\'')
            quote = m_in[m_i++];
        bool cut = false; // a reference to a character that is not allowed ends the value
        while (m_i < m_n) {
            if (quote != 0) {
                // Up to the closing quote or a reference at once.
                std::size_t end = m_i;
                while (end < m_n && m_in[end] != quote && m_in[end] != '&')
                    ++end;
                if (!cut)
                    value->append(m_in.data() + m_i, end - m_i);
                m_i = end;
                if (m_i == m_n)
                    break;
            }
            const char c = m_in[m_i];
            if (c == quote || (quote == 0 && (c == '>' || isBlank(c))))
                break;
            if (c == '&') {
                m_decoded.clear();
                if (!readReference(&m_decoded))
                    cut = true;
                else if (!cut)
                    value->append(m_decoded);
                continue;
            }
            if (!cut)
                value->push_back(c);
            ++m_i;
        }
        if (quote != 0 && at(m_i) == quote)
            ++m_i;
    }

    // At '&': appends the reference's character, or its text when it is no known reference;
    // false when it refers to a character that is not allowed (which then disappears).
    bool readReference(std::string* out) {
        if (at(m_i + 1) == '#') {
            m_i += 2;
            const bool hex = at(m_i) == 'x' || at(m_i) == 'X';
            if (hex)
                ++m_i;
            char32_t value = 0;
            while (m_i < m_n && m_in[m_i] != ';') {
                const char c = m_in[m_i];
                int digit = -1;
                if (isDigit(c))
                    digit = c - '0';
                else if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                    digit = (c | 0x20) - 'a' + 10;
                if (digit < 0)
                    break;
                if (value < 0x110000)
                    value = value * (hex ? 16 : 10) + char32_t(digit);
                ++m_i;
            }
            if (at(m_i) == ';')
                ++m_i;
            if (!isAllowedCharacter(value))
                return false;
            appendUtf8(out, value);
            return true;
        }
        ++m_i;
        const std::size_t nameStart = m_i;
        if (isReferenceNameStart(at(m_i)))
            while (m_i < m_n && isReferenceNameChar(m_in[m_i]))
                ++m_i;
        const std::string_view name = m_in.substr(nameStart, m_i - nameStart);
        if (!name.empty() && at(m_i) == ';') {
            // The references escaped text is made of, without a table look-up.
            const char basic = name == "lt"     ? '<'
                               : name == "gt"   ? '>'
                               : name == "amp"  ? '&'
                               : name == "quot" ? '"'
                                                : '\0';
            if (basic != '\0') {
                ++m_i;
                out->push_back(basic);
                return true;
            }
            const auto& entities = namedEntities();
            if (const auto it = entities.find(name); it != entities.end()) {
                ++m_i;
                appendUtf8(out, it->second);
                return true;
            }
        }
        out->push_back('&');
        out->append(name);
        return true;
    }

    void endTag() {
        const ElementTable& table = m_table;
        m_i += 2;
        if (!readTagName(&m_name))
            return; // "</" without a name is dropped
        // Anything between the name and the next '>' is skipped.
        const std::size_t close = m_in.find('>', m_i);
        m_i = close == std::string_view::npos ? m_n : close + 1;
        const auto known = table.ids.find(m_name);
        int id = -1;
        if (known != table.ids.end())
            id = known->second;
        else if (const auto other = m_otherNames.find(m_name); other != m_otherNames.end())
            id = other->second;
        if (m_ignoredWrappers > 0 && (id == table.html || id == table.body || id == table.head)) {
            --m_ignoredWrappers;
            return;
        }
        if (id < 0 || m_innermost[id] < 0)
            return;
        const int index = m_innermost[id];
        // An element of a higher rank opened inside it keeps it open.
        for (int rank = infoOf(id).rank + 1; rank < kRankLevels; ++rank)
            if (m_innermostOfRank[rank] > index)
                return;
        while (int(m_stack.size()) > index)
            popWithEvent();
    }

    // Inside script and style everything up to the next end tag is their text, which the
    // writer drops.
    void skipRawText() {
        std::size_t k = m_i;
        for (;;) {
            k = m_in.find("</", k);
            if (k == std::string_view::npos || isAsciiLetter(at(k + 2)))
                break;
            k += 2;
        }
        m_i = k == std::string_view::npos ? m_n : k;
    }

    // A comment ends at "-->" or "--!>"; one that never ends takes the rest of the text.
    void skipComment() {
        std::size_t k = m_i + 4;
        for (;;) {
            k = m_in.find("--", k);
            if (k == std::string_view::npos) {
                m_i = m_n;
                return;
            }
            if (at(k + 2) == '>') {
                m_i = k + 3;
                return;
            }
            if (at(k + 2) == '!' && at(k + 3) == '>') {
                m_i = k + 4;
                return;
            }
            ++k;
        }
    }

    bool isDoctype() const {
        constexpr std::string_view doctype = "DOCTYPE";
        for (std::size_t k = 0; k < doctype.size(); ++k)
            if ((at(m_i + 2 + k) & ~0x20) != doctype[k])
                return false;
        return true;
    }

    bool matchesWord(std::string_view upper) const {
        for (std::size_t k = 0; k < upper.size(); ++k)
            if ((at(m_i + k) & ~0x20) != upper[k])
                return false;
        return true;
    }

    void skipQuoted() {
        const char quote = at(m_i);
        if (quote != '"' && quote != '\'')
            return;
        const std::size_t end = m_in.find(quote, m_i + 1);
        m_i = end == std::string_view::npos ? m_n : end + 1;
    }

    void skipDoctype() {
        m_i += 9;
        skipBlanks();
        if (isReferenceNameStart(at(m_i)))
            while (m_i < m_n && isReferenceNameChar(m_in[m_i]))
                ++m_i;
        skipBlanks();
        if (matchesWord("SYSTEM")) {
            m_i += 6;
            skipBlanks();
            skipQuoted();
        } else if (matchesWord("PUBLIC")) {
            m_i += 6;
            skipBlanks();
            skipQuoted();
            skipBlanks();
            skipQuoted();
        }
        skipBlanks();
        if (m_i < m_n)
            ++m_i; // the '>', or whatever stands in its place
    }

    void skipProcessingInstruction() {
        m_i += 2;
        if (!isReferenceNameStart(at(m_i)))
            return;
        const std::size_t end = m_in.find('>', m_i);
        m_i = end == std::string_view::npos ? m_n : end + 1;
    }

    const ElementTable& m_table = elements();
    const ElementInfo m_unknown{};
    std::string_view m_in;
    std::size_t m_n = 0;
    std::size_t m_i = 0;
    Writer m_writer;
    std::vector<Entry> m_stack;
    std::vector<int> m_innermost; // per element kind, the index of its innermost open one
    std::array<int, kRankLevels> m_innermostOfRank{};
    std::unordered_map<std::string, int, TransparentHash, std::equal_to<>> m_otherNames;
    int m_ignoredWrappers = 0;
    std::string m_name;
    std::string m_attributeName;
    std::string m_value;
    std::string m_decoded;
    std::vector<Attribute> m_attributes;
};

// One read and write; *unwrapped tells whether an unknown element's tags were removed,
// which can change how the result reads again.
std::string sanitizeOnce(std::string_view fragment, const UrlBase& base, bool* unwrapped) {
    thread_local HtmlReader reader;
    // A NUL character reads as a space: it neither ends the text nor reaches the page.
    std::string withoutNul;
    if (fragment.find('\0') != std::string_view::npos) {
        withoutNul = fragment;
        std::replace(withoutNul.begin(), withoutNul.end(), '\0', ' ');
        fragment = withoutNul;
    }
    return reader.read(fragment, base, unwrapped);
}

} // namespace

QString sanitizeHtml(const QString& fragment, const QUrl& baseUrl) {
    if (!fragment.contains(u'<') && !fragment.contains(u'&'))
        return fragment;
    const UrlBase base(baseUrl);
    const std::string text = fragment.toStdString();
    bool unwrapped = false;
    std::string result = sanitizeOnce(text, base, &unwrapped);
    // Removing an unknown element's tags can join what the reader had kept apart (a <div>
    // inside a <p> through an unknown element): read again until the text is stable, so
    // that sanitising a sanitised text changes nothing.
    for (int round = 0; unwrapped && round < 4; ++round) {
        std::string again = sanitizeOnce(result, base, &unwrapped);
        if (again == result)
            break;
        result = std::move(again);
    }
    return QString::fromStdString(result);
}

QString escapeAttribute(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString safeUrl(const QString& url, const QUrl& baseUrl) {
    return cleanUrl(url, false, UrlBase(baseUrl)).value_or(QStringLiteral("#"));
}

} // namespace quorvel
