#include "htmlsanitizer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QStringList>
#include <QUrl>

namespace quorvel {

namespace {

enum class Treatment { Keep, Drop, Unwrap };

constexpr std::string_view keptElements[] = {
    "a",      "abbr",   "b",     "big",  "blockquote", "br",         "caption", "center",
    "cite",   "code",   "dd",    "del",  "dfn",        "div",        "dl",      "dt",
    "em",     "figcaption",      "figure",             "font",       "h1",      "h2",
    "h3",     "h4",     "h5",    "h6",   "hr",         "i",          "img",     "ins",
    "kbd",    "li",     "ol",    "p",    "picture",    "pre",        "q",       "s",
    "samp",   "small",  "source",        "span",       "strike",     "strong",  "sub",
    "sup",    "table",  "tbody", "td",   "tfoot",      "th",         "thead",   "time",
    "tr",     "tt",     "u",     "ul",   "var",
};

// Elements dropped together with everything inside them: what they hold is code, not text
// (head and title only arrive when a feed embeds a whole document).
constexpr std::string_view droppedElements[] = {
    "applet", "head", "math", "noscript", "script", "style", "svg", "template", "title",
};
// Every other element (iframe, object, embed, form and its controls, meta, link, base and
// unknown ones) loses its tags and keeps its text.

// HTML's void elements: they never hold anything, whatever the parser makes of them
// (libxml2's HTML 4 tables do not know embed, source, track or wbr as empty).
constexpr std::string_view voidElements[] = {"area", "base",  "br",     "col",    "embed",
                                             "hr",   "img",   "input",  "keygen", "link",
                                             "meta", "param", "source", "track",  "wbr"};

// Attributes kept on every kept element; URL attributes pass cleanUrl as well.
constexpr std::string_view keptAttributes[] = {
    "align", "alt",  "border",  "cite",   "colspan", "dir",   "height",
    "href",  "lang", "rowspan", "src",    "srcset",  "title", "width",
};

template <std::size_t N> bool contains(const std::string_view (&list)[N], std::string_view name) {
    for (std::string_view entry : list)
        if (entry == name)
            return true;
    return false;
}

Treatment treatmentOf(std::string_view name) {
    if (contains(keptElements, name))
        return Treatment::Keep;
    if (contains(droppedElements, name))
        return Treatment::Drop;
    return Treatment::Unwrap;
}

bool isAttributeKept(std::string_view element, std::string_view attribute) {
    if (contains(keptAttributes, attribute))
        return true;
    if ((element == "ol" || element == "ul" || element == "li") &&
        (attribute == "type" || attribute == "start"))
        return true;
    if (element == "source" && (attribute == "type" || attribute == "media" || attribute == "sizes"))
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
    explicit UrlBase(const QUrl& base) : url(base) {
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

// The value to write for a URL, or nothing when the URL must go: web and mail URLs stay,
// image data only where an image is loaded, relative ones are resolved; every other scheme
// (javascript:, file:, data:text/html...) is dropped.
std::optional<QString> cleanUrl(const QString& url, bool imageContext, const UrlBase& base) {
    switch (urlKind(url)) {
    case UrlKind::Web:
    case UrlKind::Mail:
        return url;
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

// Elements that a <p> cannot hold: the HTML parser closes the paragraph before them.
constexpr std::string_view blockElements[] = {
    "blockquote", "center", "dd",    "div", "dl",    "dt", "figcaption", "figure", "h1",
    "h2",         "h3",     "h4",    "h5",  "h6",    "hr", "li",         "ol",     "p",
    "pre",        "table",  "tbody", "td",  "tfoot", "th", "thead",      "tr",     "ul"};

// Whether the HTML parser takes this start tag inside parent (the innermost open element,
// empty at the top) as written, without closing or opening anything for it: list items,
// table parts and definition terms have fixed parents, and a block element sits only at
// the top or in an element that holds blocks.
bool nestsAsWritten(std::string_view name, std::string_view parent) {
    auto parentIs = [parent](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), parent) != names.end();
    };
    if (name == "li")
        return parentIs({"ul", "ol"});
    if (name == "dt" || name == "dd")
        return parentIs({"dl"});
    if (name == "tr")
        return parentIs({"table", "thead", "tbody", "tfoot"});
    if (name == "td" || name == "th")
        return parentIs({"tr"});
    if (name == "thead" || name == "tbody" || name == "tfoot" || name == "caption")
        return parentIs({"table"});
    if (contains(blockElements, name))
        return parent.empty() ||
               parentIs({"div", "blockquote", "center", "td", "th", "li", "dd", "figure"});
    return true;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The common case without the HTML parser: balanced markup of kept elements with quoted,
// entity-free attribute values, and text whose only references are &amp; &lt; &gt;. Writes
// what the parser-based path writes for such input; anything else (comments, entities,
// dropped or unknown elements, nesting the parser would repair) answers false and the
// parser handles it.
bool sanitizeSimple(const std::string& in, std::string* out, const UrlBase& base) {
    std::vector<std::string> open;
    std::string name;
    std::string attributeName;
    std::vector<std::string> seenAttributes;
    out->reserve(in.size() + 16);
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = in[i];
        if (c == '&') {
            const std::string_view rest(in.data() + i, n - i);
            std::size_t length = 0;
            for (std::string_view ok : {"&amp;", "&lt;", "&gt;"})
                if (rest.substr(0, ok.size()) == ok)
                    length = ok.size();
            if (length == 0)
                return false;
            out->append(rest.substr(0, length));
            i += length;
            continue;
        }
        if (c == '>') {
            out->append("&gt;");
            ++i;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20 && !isSpace(c))
            return false;
        if (c != '<') {
            out->push_back(c);
            ++i;
            continue;
        }
        // A tag.
        ++i;
        const bool closing = i < n && in[i] == '/';
        if (closing)
            ++i;
        name.clear();
        while (i < n && isNameChar(in[i]))
            name.push_back(lower(in[i++]));
        if (name.empty() || treatmentOf(name) != Treatment::Keep)
            return false;
        const bool isVoid = contains(voidElements, name);
        if (closing) {
            while (i < n && isSpace(in[i]))
                ++i;
            if (i >= n || in[i] != '>' || isVoid || open.empty() || open.back() != name)
                return false;
            ++i;
            open.pop_back();
            out->append("</");
            out->append(name);
            out->push_back('>');
            continue;
        }
        if (!nestsAsWritten(name, open.empty() ? std::string_view() : open.back()) ||
            (contains(blockElements, name) &&
             std::find(open.begin(), open.end(), "p") != open.end()))
            return false;
        if (name == "a" && std::find(open.begin(), open.end(), "a") != open.end())
            return false;
        out->push_back('<');
        out->append(name);
        seenAttributes.clear();
        for (;;) {
            while (i < n && isSpace(in[i]))
                ++i;
            if (i >= n)
                return false;
            if (in[i] == '>') {
                ++i;
                break;
            }
            if (in[i] == '/' && i + 1 < n && in[i + 1] == '>' && isVoid) {
                i += 2;
                break;
            }
            attributeName.clear();
            while (i < n && isNameChar(in[i]))
                attributeName.push_back(lower(in[i++]));
            // The parser keeps the first of repeated attributes.
            if (std::find(seenAttributes.begin(), seenAttributes.end(), attributeName) !=
                seenAttributes.end())
                return false;
            seenAttributes.push_back(attributeName);
            while (i < n && isSpace(in[i]))
                ++i;
            if (attributeName.empty() || i >= n || in[i] != '=')
                return false;
            ++i;
            while (i < n && isSpace(in[i]))
                ++i;
            if (i >= n || (in[i] != '"' && in[i] != '\''))
                return false;
            const char quote = in[i++];
            const std::size_t end = in.find(quote, i);
            if (end == std::string::npos)
                return false;
            const std::string_view value(in.data() + i, end - i);
            if (value.find('&') != std::string_view::npos ||
                value.find('\n') != std::string_view::npos)
                return false;
            i = end + 1;
            appendAttribute(out, name, attributeName, value, base);
        }
        out->push_back('>');
        if (!isVoid)
            open.push_back(name);
    }
    return open.empty();
}

// Writes the allowed part of the parser's events as HTML, without building a tree. A stack
// of the open elements keeps the output balanced even where the parser's events are not
// (a truncated "<a" at the end is opened but never closed under its own name).
struct Writer {
    struct Open {
        std::string name;
        Treatment treatment;
    };
    explicit Writer(const UrlBase* urlBase) : base(urlBase) {}

    const UrlBase* base;
    std::string out;
    std::vector<Open> open;
    int droppedDepth = 0; // open elements inside (and including) a dropped one
    bool unwrappedElement = false;

    void startElement(std::string_view name, const xmlChar** atts) {
        if (droppedDepth > 0) {
            ++droppedDepth;
            open.push_back({std::string(name), Treatment::Drop});
            return;
        }
        // html and body come from the wrapper the fragment is parsed in.
        const bool wrapper = name == "html" || name == "body";
        const Treatment t = wrapper ? Treatment::Unwrap : treatmentOf(name);
        if (contains(voidElements, name)) {
            // Never opened: no end tag, and what the parser puts after it stays.
            if (t == Treatment::Keep)
                writeStartTag(name, atts);
            else
                unwrappedElement = true;
            return;
        }
        open.push_back({std::string(name), t});
        if (t == Treatment::Drop)
            droppedDepth = 1;
        else if (t == Treatment::Unwrap && !wrapper)
            unwrappedElement = true;
        else if (t == Treatment::Keep)
            writeStartTag(name, atts);
    }

    void writeStartTag(std::string_view name, const xmlChar** atts) {
        out.push_back('<');
        out.append(name);
        for (const xmlChar** a = atts; a != nullptr && a[0] != nullptr; a += 2)
            appendAttribute(&out, name, reinterpret_cast<const char*>(a[0]),
                            a[1] ? reinterpret_cast<const char*>(a[1]) : "", *base);
        out.push_back('>');
    }

    // Closes the innermost open element of that name and everything opened inside it; an
    // end event for an element that is not open is ignored.
    void endElement(std::string_view name) {
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            if (it->name != name)
                continue;
            const std::size_t keep = std::size_t(open.rend() - it) - 1;
            while (open.size() > keep)
                closeInnermost();
            return;
        }
    }

    void closeInnermost() {
        const Open& e = open.back();
        if (e.treatment == Treatment::Drop)
            --droppedDepth;
        else if (e.treatment == Treatment::Keep) {
            out.append("</");
            out.append(e.name);
            out.push_back('>');
        }
        open.pop_back();
    }

    void finish() {
        while (!open.empty())
            closeInnermost();
    }

    void characters(const char* text, int length) {
        if (droppedDepth == 0)
            appendEscaped(&out, text, std::size_t(length), false);
    }
};

thread_local Writer* currentWriter = nullptr;

void onStartElement(void*, const xmlChar* name, const xmlChar** atts) {
    currentWriter->startElement(reinterpret_cast<const char*>(name), atts);
}
void onEndElement(void*, const xmlChar* name) {
    currentWriter->endElement(reinterpret_cast<const char*>(name));
}
void onCharacters(void*, const xmlChar* text, int length) {
    currentWriter->characters(reinterpret_cast<const char*>(text), length);
}
void silence(void*, xmlErrorPtr) {}

// One HTML parser context per thread, reset for each fragment: creating one costs more
// than parsing a typical description.
struct HtmlParser {
    htmlParserCtxtPtr ctxt = nullptr;
    HtmlParser() {
        static std::once_flag once;
        std::call_once(once, [] { xmlInitParser(); });
        ctxt = htmlNewParserCtxt();
    }
    ~HtmlParser() {
        if (ctxt)
            htmlFreeParserCtxt(ctxt);
    }

    void parse(const std::string& html) {
        if (ctxt == nullptr)
            return;
        // Events only, no tree: the handlers write the output directly.
        xmlSAXHandler* sax = ctxt->sax;
        std::memset(sax, 0, sizeof *sax);
        sax->initialized = XML_SAX2_MAGIC;
        sax->startElement = onStartElement;
        sax->endElement = onEndElement;
        sax->characters = onCharacters;
        sax->ignorableWhitespace = onCharacters;
        sax->serror = silence;
        // The text is UTF-8 from a QString. The byte-order mark in front says so (without
        // it the HTML parser assumes ISO-8859-1) and, unlike naming the encoding, needs no
        // transcoding pass; IGNORE_ENC keeps a <meta charset> in the markup from changing it.
        htmlDocPtr doc =
            htmlCtxtReadMemory(ctxt, html.data(), int(html.size()), nullptr, nullptr,
                               HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                   HTML_PARSE_IGNORE_ENC | HTML_PARSE_NODEFDTD);
        if (doc != nullptr)
            xmlFreeDoc(doc);
    }
};

// One parse and serialisation; *unwrapped tells whether an unknown element's tags were
// removed, which can change how the result parses again.
std::string sanitizeOnce(const std::string& fragment, const UrlBase& base, bool* unwrapped) {
    thread_local HtmlParser parser;
    Writer writer{&base};
    writer.out.reserve(fragment.size() + 16);
    currentWriter = &writer;
    parser.parse("\xEF\xBB\xBF<html><body>" + fragment);
    writer.finish();
    currentWriter = nullptr;
    *unwrapped = writer.unwrappedElement;
    return std::move(writer.out);
}

} // namespace

QString sanitizeHtml(const QString& fragment, const QUrl& baseUrl) {
    if (!fragment.contains(u'<') && !fragment.contains(u'&'))
        return fragment;
    const UrlBase base(baseUrl);
    std::string text = fragment.toStdString();
    if (text.size() > std::size_t(INT_MAX / 2))
        return QString();
    std::string simple;
    if (sanitizeSimple(text, &simple, base))
        return QString::fromStdString(simple);
    bool unwrapped = false;
    std::string result = sanitizeOnce(text, base, &unwrapped);
    // Removing an unknown element's tags can join what the parser had kept apart (a <div>
    // inside a <p> through an unknown element): parse again until the text is stable, so
    // that sanitising a sanitised text changes nothing.
    for (int round = 0; unwrapped && round < 4; ++round) {
        std::string again = sanitizeOnce(result, base, &unwrapped);
        if (again == result)
            break;
        result = std::move(again);
    }
    return QString::fromStdString(result);
}

QString sanitizeHtmlWithParser(const QString& fragment, const QUrl& baseUrl) {
    bool unwrapped = false;
    return QString::fromStdString(sanitizeOnce(fragment.toStdString(), UrlBase(baseUrl), &unwrapped));
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
