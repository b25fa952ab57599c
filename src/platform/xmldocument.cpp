#include "xmldocument.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include <QDir>
#include <QFile>
#include <QHash>

#include <libxml/HTMLparser.h>
#include <libxml/entities.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "platform/atomicfile.h"

namespace quorvel {

namespace {

const xmlChar* xc(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

void initLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// ---- UTF-8 repair ---------------------------------------------------------------------

// Length of the valid UTF-8 sequence at p (1 to 4), or 0 when the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF included).
int validSequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    auto cont = [&](int i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (c == 0xE0 && p[1] < 0xA0)
            return 0;
        if (c == 0xED && p[1] >= 0xA0)
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (c == 0xF0 && p[1] < 0x90)
            return 0;
        if (c == 0xF4 && p[1] >= 0x90)
            return 0;
        return 4;
    }
    return 0;
}

// Where the first invalid UTF-8 sequence starts; end when there is none.
const unsigned char* firstInvalidUtf8(const unsigned char* p, const unsigned char* end) {
    while (p < end) {
        if (*p < 0x80) {
            // Most documents are mostly ASCII: skip it eight bytes at a time.
            std::uint64_t word;
            while (end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080u) == 0))
                p += 8;
            if (p < end && *p < 0x80)
                ++p;
            continue;
        }
        const int n = validSequenceLength(p, end);
        if (n == 0)
            break;
        p += n;
    }
    return p;
}

// Replaces every invalid byte sequence with U+FFFD. Returns false (and leaves out alone)
// when the bytes are valid already, so the common case copies nothing.
bool repairUtf8(const QByteArray& in, QByteArray* out) {
    const auto* begin = reinterpret_cast<const unsigned char*>(in.constData());
    const auto* end = begin + in.size();
    const auto* p = firstInvalidUtf8(begin, end);
    if (p == end)
        return false;

    out->reserve(in.size() + 16);
    out->append(in.constData(), p - begin);
    while (p < end) {
        const int n = validSequenceLength(p, end);
        if (n > 0) {
            out->append(reinterpret_cast<const char*>(p), n);
            p += n;
            continue;
        }
        out->append("\xEF\xBF\xBD");
        // One replacement per maximal invalid prefix: skip the lead byte and the
        // continuation bytes that could have belonged to it.
        ++p;
        while (p < end && (*p & 0xC0) == 0x80)
            ++p;
    }
    return true;
}

bool isValidUtf8(const QByteArray& bytes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = begin + bytes.size();
    return firstInvalidUtf8(begin, end) == end;
}

// What the document says of its own encoding: "signature" for a UTF-16 or UCS-4 byte
// order mark or first characters, the name in its XML declaration, or empty when it says
// nothing (a UTF-8 byte order mark counts as naming UTF-8).
QByteArray statedEncoding(const QByteArray& bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE)))
        return "signature";
    if (n >= 4 && ((b[0] == 0 && b[1] == 0x3C) || (b[0] == 0x3C && b[1] == 0) ||
                   (b[0] == 0 && b[1] == 0 && b[2] == 0) ||
                   (b[0] == 0x4C && b[1] == 0x6F && b[2] == 0xA7 && b[3] == 0x94)))
        return "signature";
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return "utf-8"; // a byte-order mark wins over any declaration, as in browsers
    if (!bytes.startsWith("<?xml"))
        return QByteArray();
    const qsizetype close = bytes.indexOf("?>");
    const QByteArray decl = bytes.left(close < 0 ? 200 : close);
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0)
        return QByteArray();
    qsizetype i = at + 8;
    while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\r' ||
                               decl[i] == '\n' || decl[i] == '='))
        ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\''))
        return QByteArray();
    const qsizetype endQuote = decl.indexOf(decl[i], i + 1);
    return decl.mid(i + 1, endQuote < 0 ? -1 : endQuote - i - 1).trimmed();
}

bool namesUtf8(const QByteArray& encoding) {
    const QByteArray name = encoding.trimmed().toLower();
    return name == "utf-8" || name == "utf8";
}

// The names browsers read as windows-1252: feeds labelled ISO-8859-1 or US-ASCII mostly
// hold windows-1252 text (curly quotes in 0x80-0x9F), as web pages do.
bool namesWindows1252(const QByteArray& encoding) {
    static const char* const labels[] = {
        "windows-1252", "cp1252",   "x-cp1252", "iso-8859-1", "iso8859-1",       "iso88591",
        "iso_8859-1",   "iso_8859-1:1987",      "latin1",     "l1",              "cp819",
        "ibm819",       "csisolatin1",          "iso-ir-100", "us-ascii",        "ascii",
        "ansi_x3.4-1968"};
    const QByteArray name = encoding.trimmed().toLower();
    for (const char* label : labels)
        if (name == label)
            return true;
    return false;
}

// windows-1252 to UTF-8, byte by byte. Its five unassigned bytes become the C1 controls of
// the same value, as in browsers, where a converter would reject the whole document.
QByteArray windows1252ToUtf8(const QByteArray& bytes) {
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(b >= 0x80 && b < 0xA0 ? high[b - 0x80] : char16_t(b));
    }
    return text.toUtf8();
}

// ---- HTML named entities --------------------------------------------------------------

// Two entity records per HTML entity name, made once and shared read-only by all parsers:
// in content libxml2 inlines an XML_INTERNAL_PREDEFINED_ENTITY's text as characters; in
// attribute values it copies only the first byte of such an entity, so there a general
// entity is handed out instead and the reference it leaves is replaced after the parse.
struct HtmlEntityRecords {
    xmlEntity inContent;
    xmlEntity inAttribute;
    QByteArray name;
    QByteArray utf8;
};

const std::unordered_map<std::string, HtmlEntityRecords>& htmlEntityTable() {
    static const auto* table = [] {
        auto* t = new std::unordered_map<std::string, HtmlEntityRecords>;
        // htmlEntityValueLookup is the only way to walk libxml2's table; its code points
        // all lie below U+2700.
        for (unsigned int cp = 1; cp < 0x2700; ++cp) {
            const htmlEntityDesc* desc = htmlEntityValueLookup(cp);
            if (desc == nullptr || desc->value != cp)
                continue;
            const std::string name = reinterpret_cast<const char*>(desc->name);
            if (t->count(name))
                continue;
            HtmlEntityRecords& r = (*t)[name];
            r.name = QByteArray(name.c_str());
            const char32_t ucs4 = char32_t(cp);
            r.utf8 = QString::fromUcs4(&ucs4, 1).toUtf8();
            for (xmlEntity* e : {&r.inContent, &r.inAttribute}) {
                std::memset(e, 0, sizeof *e);
                e->type = XML_ENTITY_DECL;
                e->name = xc(r.name.constData());
                e->content = reinterpret_cast<xmlChar*>(r.utf8.data());
                e->orig = e->content;
                e->length = int(r.utf8.size());
                // Checked, no nested references, no '<' in the text.
                e->checked = 2;
            }
            r.inContent.etype = XML_INTERNAL_PREDEFINED_ENTITY;
            r.inAttribute.etype = XML_INTERNAL_GENERAL_ENTITY;
        }
        return t;
    }();
    return *table;
}

const HtmlEntityRecords* findHtmlEntity(const xmlChar* name) {
    if (htmlEntityLookup(name) == nullptr)
        return nullptr;
    const auto& table = htmlEntityTable();
    const auto it = table.find(reinterpret_cast<const char*>(name));
    return it == table.end() ? nullptr : &it->second;
}

// ---- parsing --------------------------------------------------------------------------

struct ParseState {
    QString error;
    bool haveFatal = false;
    bool htmlEntityInAttribute = false;
    // Set for a stream: the document's own parser context (entity texts are parsed in
    // contexts of their own, which the reader never sees) and the reader.
    xmlParserCtxtPtr mainContext = nullptr;
    XmlStreamReader* stream = nullptr;
    bool sawElement = false;
};

ParseState* stateOf(void* userData) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    return ctxt ? static_cast<ParseState*>(ctxt->_private) : nullptr;
}

void recordError(ParseState* state, xmlErrorPtr err) {
    if (state == nullptr || err == nullptr || err->level < XML_ERR_ERROR)
        return;
    const bool fatal = err->level == XML_ERR_FATAL;
    if (!state->error.isEmpty() && (state->haveFatal || !fatal))
        return;
    QString message = QString::fromUtf8(err->message ? err->message : "not well-formed").trimmed();
    state->error =
        err->line > 0 ? QStringLiteral("line %1: %2").arg(err->line).arg(message) : message;
    state->haveFatal = fatal;
}

void collectError(void* userData, xmlErrorPtr err) {
    recordError(stateOf(userData), err);
}

// Errors that libxml2 raises without a parser context (encoding conversion) go to the
// calling thread's structured handler; it points at the running parse while it lasts.
void collectContextFreeError(void* state, xmlErrorPtr err) {
    recordError(static_cast<ParseState*>(state), err);
}

class ThreadErrorRedirect {
public:
    explicit ThreadErrorRedirect(ParseState* state)
        : m_oldHandler(xmlStructuredError), m_oldContext(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(state, collectContextFreeError);
    }
    ~ThreadErrorRedirect() { xmlSetStructuredErrorFunc(m_oldContext, m_oldHandler); }
    ThreadErrorRedirect(const ThreadErrorRedirect&) = delete;
    ThreadErrorRedirect& operator=(const ThreadErrorRedirect&) = delete;

private:
    xmlStructuredErrorFunc m_oldHandler;
    void* m_oldContext;
};

xmlEntityPtr getEntity(void* userData, const xmlChar* name) {
    if (xmlEntityPtr declared = xmlSAX2GetEntity(userData, name))
        return declared;
    const HtmlEntityRecords* records = findHtmlEntity(name);
    if (records == nullptr)
        return nullptr;
    auto* ctxt = static_cast<xmlParserCtxtPtr>(userData);
    if (ctxt->instate == XML_PARSER_ATTRIBUTE_VALUE) {
        if (ParseState* state = stateOf(userData))
            state->htmlEntityInAttribute = true;
        return const_cast<xmlEntity*>(&records->inAttribute);
    }
    return const_cast<xmlEntity*>(&records->inContent);
}

xmlParserInputPtr refuseExternalEntity(void*, const xmlChar*, const xmlChar*) {
    return nullptr;
}

// Turns the references to undeclared HTML entities that an element's attribute values keep
// into text.
void resolveHtmlEntitiesInElementAttributes(xmlDocPtr doc, xmlNodePtr node) {
    for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
        for (xmlNodePtr part = attr->children; part != nullptr;) {
            xmlNodePtr next = part->next;
            const HtmlEntityRecords* records = nullptr;
            if (part->type == XML_ENTITY_REF_NODE && xmlGetDocEntity(doc, part->name) == nullptr)
                records = findHtmlEntity(part->name);
            if (records != nullptr) {
                xmlNodePtr text = xmlNewDocText(doc, xc(records->utf8.constData()));
                xmlReplaceNode(part, text);
                xmlFreeNode(part);
            }
            part = next;
        }
    }
}

void resolveHtmlEntitiesInAttributes(xmlDocPtr doc, xmlNodePtr node) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        resolveHtmlEntitiesInElementAttributes(doc, node);
        resolveHtmlEntitiesInAttributes(doc, node->children);
    }
}

// ---- the stream's hooks ---------------------------------------------------------------

// The parse state when userData is the document's own context of a stream, else null.
ParseState* streamStateOf(void* userData) {
    ParseState* state = stateOf(userData);
    return state != nullptr && state->mainContext == userData ? state : nullptr;
}

void streamStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                        const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                        int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
    if (ParseState* state = streamStateOf(ctx)) {
        state->sawElement = true;
        state->stream->startElement(XmlStartTag(localname, prefix, uri, nbNamespaces, namespaces,
                                                nbAttributes - nbDefaulted, attributes));
    }
}

void streamEndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    if (ParseState* state = streamStateOf(ctx)) {
        state->stream->endElement();
        if (state->stream->stopped())
            xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    }
}

void streamCharacters(void* ctx, const xmlChar* text, int length) {
    ParseState* state = streamStateOf(ctx);
    if (state != nullptr && state->stream->takesText)
        state->stream->characters(reinterpret_cast<const char*>(text), length);
}

// Routes element and text events to the reader instead of the tree builder; comments,
// processing instructions and entity references go nowhere.
void attachStream(xmlParserCtxtPtr ctxt, ParseState* state, XmlStreamReader* reader) {
    state->stream = reader;
    state->mainContext = ctxt;
    xmlSAXHandlerPtr sax = ctxt->sax;
    sax->startElementNs = streamStartElement;
    sax->endElementNs = streamEndElement;
    sax->characters = streamCharacters;
    sax->ignorableWhitespace = streamCharacters;
    sax->cdataBlock = streamCharacters;
    sax->reference = nullptr;
    sax->comment = nullptr;
    sax->processingInstruction = nullptr;
}

// ---- node helpers ---------------------------------------------------------------------

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

QString trimmedFromUtf8(const char* data, qsizetype size) {
    qsizetype begin = 0;
    while (begin < size && isXmlSpace(data[begin]))
        ++begin;
    while (size > begin && isXmlSpace(data[size - 1]))
        --size;
    return QString::fromUtf8(data + begin, size - begin);
}

void appendText(xmlNodePtr node, QByteArray* out) {
    for (; node != nullptr; node = node->next) {
        switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (node->content)
                out->append(reinterpret_cast<const char*>(node->content));
            break;
        case XML_ELEMENT_NODE:
            appendText(node->children, out);
            break;
        default:
            break;
        }
    }
}

QByteArray utf8(const QString& text) {
    return text.toUtf8();
}

// Compares a libxml2 (UTF-8) name with a QString without converting the whole name.
bool sameName(const xmlChar* name, QStringView wanted) {
    const xmlChar* p = name;
    for (QChar c : wanted) {
        if (c.unicode() >= 0x80)
            return wanted.toUtf8() == reinterpret_cast<const char*>(name);
        if (*p != c.unicode())
            return false;
        ++p;
    }
    return *p == 0;
}

// An element written without a prefix (no namespace, or the default one).
bool isUnprefixed(xmlNodePtr node) {
    return node->ns == nullptr || node->ns->prefix == nullptr;
}

// A plain name matches an element of that local name written without a prefix, so that
// "title" reaches an RSS 1.0 or Atom title but not media:title; "prefix:name" matches
// the element written with that prefix.
bool elementNameMatches(xmlNodePtr node, QStringView wanted) {
    const qsizetype colon = wanted.indexOf(u':');
    if (colon < 0)
        return isUnprefixed(node) && sameName(node->name, wanted);
    return node->ns != nullptr && node->ns->prefix != nullptr &&
           sameName(node->ns->prefix, wanted.left(colon)) &&
           sameName(node->name, wanted.mid(colon + 1));
}

// Attribute by name: "prefix:local" matches a namespaced attribute, a plain name prefers
// the attribute without a namespace.
xmlAttrPtr findAttribute(xmlNodePtr node, const QByteArray& name) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE)
        return nullptr;
    const void* colonAt = std::memchr(name.constData(), ':', std::size_t(name.size()));
    const qsizetype colon = colonAt ? static_cast<const char*>(colonAt) - name.constData() : -1;
    // Views, not copies: this runs for every attribute a reader asks about.
    const QByteArrayView prefix = QByteArrayView(name).first(colon < 0 ? 0 : colon);
    const QByteArrayView local = QByteArrayView(name).sliced(colon + 1);
    xmlAttrPtr anyNamespace = nullptr;
    for (xmlAttrPtr attr = node->properties; attr != nullptr; attr = attr->next) {
        if (colon >= 0) {
            if (attr->ns && attr->ns->prefix &&
                prefix == reinterpret_cast<const char*>(attr->ns->prefix) &&
                local == reinterpret_cast<const char*>(attr->name))
                return attr;
            continue;
        }
        if (name != reinterpret_cast<const char*>(attr->name))
            continue;
        if (attr->ns == nullptr)
            return attr;
        if (anyNamespace == nullptr)
            anyNamespace = attr;
    }
    return anyNamespace;
}

// An entity reference's children are the entity's declaration, not part of the tree.
xmlNodePtr firstChildOf(xmlNodePtr node) {
    return node == nullptr || node->type == XML_ENTITY_REF_NODE ? nullptr : node->children;
}

bool isAncestorOrSelf(xmlNodePtr candidate, xmlNodePtr node) {
    for (; node != nullptr; node = node->parent)
        if (node == candidate)
            return true;
    return false;
}

// ---- ownership of detached nodes --------------------------------------------------------

// libxml2 frees only the nodes that hang in the tree; nodes made by createElement or taken
// out by replaceChild are recorded here (in the document's _private) and freed with it.
struct DetachedNodes {
    std::vector<xmlNodePtr> roots;
};

DetachedNodes* detachedOf(xmlDocPtr doc, bool create) {
    if (doc == nullptr)
        return nullptr;
    if (doc->_private == nullptr && create)
        doc->_private = new DetachedNodes;
    return static_cast<DetachedNodes*>(doc->_private);
}

void noteDetached(xmlNodePtr node) {
    if (DetachedNodes* d = detachedOf(node->doc, true))
        d->roots.push_back(node);
}

void noteAttached(xmlNodePtr node) {
    if (DetachedNodes* d = detachedOf(node->doc, false))
        d->roots.erase(std::remove(d->roots.begin(), d->roots.end(), node), d->roots.end());
}

void freeDocument(xmlDocPtr doc) {
    if (doc == nullptr)
        return;
    if (auto* d = detachedOf(doc, false)) {
        for (xmlNodePtr node : d->roots)
            if (node->parent == nullptr)
                xmlFreeNode(node);
        delete d;
        doc->_private = nullptr;
    }
    xmlFreeDoc(doc);
}

// Makes child ready to be attached below parent; false when that is impossible (another
// document, or parent inside child).
bool prepareForAttach(xmlNodePtr parent, xmlNodePtr child) {
    if (parent == nullptr || child == nullptr || child->doc != parent->doc ||
        isAncestorOrSelf(child, parent) || child->type == XML_DOCUMENT_NODE ||
        child->type == XML_ATTRIBUTE_NODE)
        return false;
    xmlUnlinkNode(child);
    noteAttached(child);
    return true;
}

// ---- XPath ----------------------------------------------------------------------------

// A location path made only of element name tests, '*' and '.', joined by '/' and '//':
// evaluated by walking the tree, which is far faster than libxml2's XPath with the
// name() predicates that matching across default namespaces needs.
struct SimpleStep {
    bool descendant = false; // reached through '//'
    bool self = false;       // '.'
    QByteArray name;         // empty for '*'
};

struct SimplePath {
    bool absolute = false;
    std::vector<SimpleStep> steps;
};

bool isNameStart(QChar c) {
    return c.isLetter() || c == u'_' || c.unicode() >= 0x80;
}
bool isNameChar(QChar c) {
    return isNameStart(c) || c.isDigit() || c == u'-' || c == u'.' || c.unicode() == 0xB7;
}

bool parseSimplePath(const QString& expr, SimplePath* path) {
    const QString e = expr.trimmed();
    qsizetype i = 0;
    const qsizetype n = e.size();
    if (n == 0)
        return false;
    bool descendant = false;
    if (e[0] == u'/') {
        path->absolute = true;
        if (n > 1 && e[1] == u'/') {
            descendant = true;
            i = 2;
        } else {
            i = 1;
        }
        if (i == n)
            return false; // "/" alone selects the document node, not an element
    }
    while (true) {
        SimpleStep step;
        step.descendant = descendant;
        if (i < n && e[i] == u'*') {
            ++i;
        } else if (i < n && e[i] == u'.' && (i + 1 == n || e[i + 1] == u'/')) {
            if (descendant)
                return false;
            step.self = true;
            ++i;
        } else if (i < n && isNameStart(e[i])) {
            const qsizetype start = i;
            while (i < n && isNameChar(e[i]))
                ++i;
            step.name = e.mid(start, i - start).toUtf8();
        } else {
            return false;
        }
        path->steps.push_back(std::move(step));
        if (i == n)
            return true;
        if (e[i] != u'/')
            return false;
        descendant = i + 1 < n && e[i + 1] == u'/';
        i += descendant ? 2 : 1;
        if (i == n)
            return false;
    }
}

bool matches(xmlNodePtr node, const SimpleStep& step) {
    if (node->type != XML_ELEMENT_NODE)
        return false;
    if (step.name.isEmpty())
        return true;
    const char* name = reinterpret_cast<const char*>(node->name);
    // Most names differ in their first letter; check it before calling strcmp.
    return name[0] == step.name[0] && std::strcmp(name, step.name.constData()) == 0 &&
           isUnprefixed(node);
}

void collectDescendants(xmlNodePtr root, const SimpleStep& step, std::vector<xmlNodePtr>* out) {
    xmlNodePtr node = root->children;
    while (node != nullptr) {
        if (matches(node, step))
            out->push_back(node);
        // Only elements hold elements; entity references and DTDs are not entered.
        if (node->type == XML_ELEMENT_NODE && node->children != nullptr) {
            node = node->children;
            continue;
        }
        while (node != nullptr && node != root && node->next == nullptr)
            node = node->parent;
        if (node == nullptr || node == root)
            break;
        node = node->next;
    }
}

bool isDescendantOf(xmlNodePtr node, xmlNodePtr ancestor) {
    for (xmlNodePtr p = node->parent; p != nullptr; p = p->parent)
        if (p == ancestor)
            return true;
    return false;
}

bool holdsElements(xmlNodePtr node) {
    return node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE ||
           node->type == XML_HTML_DOCUMENT_NODE;
}

std::vector<xmlNodePtr> evaluateSimplePath(const SimplePath& path, xmlNodePtr context) {
    std::vector<xmlNodePtr> current;
    if (!path.absolute && !holdsElements(context))
        return current;
    current.push_back(path.absolute ? reinterpret_cast<xmlNodePtr>(context->doc) : context);
    for (const SimpleStep& step : path.steps) {
        if (step.self)
            continue;
        std::vector<xmlNodePtr> next;
        // The context nodes are in document order; one inside an earlier one adds
        // nothing new to a descendant step and breaks the order of a child step.
        bool nested = false;
        xmlNodePtr lastRoot = nullptr;
        for (xmlNodePtr ctx : current) {
            const bool inside = lastRoot != nullptr && isDescendantOf(ctx, lastRoot);
            if (step.descendant) {
                if (inside)
                    continue;
                lastRoot = ctx;
                collectDescendants(ctx, step, &next);
            } else {
                if (inside)
                    nested = true;
                else
                    lastRoot = ctx;
                for (xmlNodePtr child = ctx->children; child != nullptr; child = child->next)
                    if (matches(child, step))
                        next.push_back(child);
            }
        }
        if (nested)
            std::stable_sort(next.begin(), next.end(), [](xmlNodePtr a, xmlNodePtr b) {
                return xmlXPathCmpNodes(a, b) == 1;
            });
        current = std::move(next);
        if (current.empty())
            break;
    }
    std::vector<xmlNodePtr> elements;
    elements.reserve(current.size());
    for (xmlNodePtr node : current)
        if (node->type == XML_ELEMENT_NODE)
            elements.push_back(node);
    return elements;
}

bool isOperatorName(const QString& word) {
    return word == u"and" || word == u"or" || word == u"div" || word == u"mod";
}

// Rewrites the unprefixed element name tests of a general XPath expression into
// *[name()='name'] (an element of that name written without a prefix, in whatever default
// namespace), leaving function names, axis names, attribute names, variables,
// operators and string literals alone.
QString rewriteNameTests(const QString& expr) {
    QString out;
    out.reserve(expr.size() * 2);
    const qsizetype n = expr.size();
    // XPath's lexical rule: after one of these (or at the start) a name is a name test
    // and '*' a wildcard; elsewhere they are operators.
    QString prevToken;
    bool prevIsOperand = false;
    bool attributeAxis = false;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = expr[i];
        if (c.isSpace()) {
            out += c;
            ++i;
            continue;
        }
        if (c == u'"' || c == u'\'') {
            const qsizetype end = expr.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? n : end + 1;
            out += expr.mid(i, stop - i);
            i = stop;
            prevIsOperand = true;
            prevToken = QStringLiteral("literal");
            continue;
        }
        if (isNameStart(c)) {
            qsizetype j = i;
            while (j < n && isNameChar(expr[j]))
                ++j;
            QString word = expr.mid(i, j - i);
            bool prefixed = false;
            if (j + 1 < n && expr[j] == u':' && expr[j + 1] != u':') {
                // prefix:local or prefix:*
                prefixed = true;
                qsizetype k = j + 1;
                if (k < n && expr[k] == u'*')
                    ++k;
                else
                    while (k < n && isNameChar(expr[k]))
                        ++k;
                word = expr.mid(i, k - i);
                j = k;
            }
            qsizetype look = j;
            while (look < n && expr[look].isSpace())
                ++look;
            const bool isFunctionOrType = look < n && expr[look] == u'(';
            const bool isAxis = look + 1 < n && expr[look] == u':' && expr[look + 1] == u':';
            const bool operatorPosition = prevIsOperand;
            const bool afterAt = prevToken == u"@" || attributeAxis;
            if (operatorPosition && isOperatorName(word)) {
                out += word;
                prevIsOperand = false;
                prevToken = word;
            } else if (isAxis) {
                out += word;
                attributeAxis = word == u"attribute" || word == u"namespace";
                prevIsOperand = false;
                prevToken = QStringLiteral("::");
                out += expr.mid(j, look + 2 - j);
                i = look + 2;
                continue;
            } else if (isFunctionOrType || prefixed || afterAt) {
                out += word;
                prevIsOperand = !isFunctionOrType;
                prevToken = word;
            } else {
                out += QStringLiteral("*[name()='%1']").arg(word);
                prevIsOperand = true;
                prevToken = word;
            }
            attributeAxis = false;
            i = j;
            continue;
        }
        if (c == u'$') {
            qsizetype j = i + 1;
            while (j < n && (isNameChar(expr[j]) || expr[j] == u':'))
                ++j;
            out += expr.mid(i, j - i);
            i = j;
            prevIsOperand = true;
            prevToken = QStringLiteral("$");
            continue;
        }
        if (c.isDigit() || (c == u'.' && i + 1 < n && expr[i + 1].isDigit())) {
            qsizetype j = i;
            while (j < n && (expr[j].isDigit() || expr[j] == u'.'))
                ++j;
            out += expr.mid(i, j - i);
            i = j;
            prevIsOperand = true;
            prevToken = QStringLiteral("number");
            continue;
        }
        // Punctuation and operators.
        QString token(c);
        if (i + 1 < n) {
            const QString two = expr.mid(i, 2);
            if (two == u"//" || two == u".." || two == u"!=" || two == u"<=" || two == u">=" ||
                two == u"::")
                token = two;
        }
        out += token;
        i += token.size();
        if (token == u"*")
            prevIsOperand = !prevIsOperand;
        else
            prevIsOperand = token == u")" || token == u"]" || token == u"." || token == u"..";
        prevToken = token;
        attributeAxis = false;
    }
    return out;
}

struct CompiledQuery {
    bool simple = false;
    SimplePath path;
    xmlXPathCompExprPtr compiled = nullptr;
};

void silenceXPath(void*, xmlErrorPtr) {}

// Per-thread so that evaluation needs no lock and libxml2's caching of function lookups
// inside a compiled expression never races.
struct XPathThreadCache {
    xmlXPathContextPtr context = nullptr;
    QHash<QString, CompiledQuery> queries;

    XPathThreadCache() {
        initLibxml();
        context = xmlXPathNewContext(nullptr);
        if (context)
            context->error = silenceXPath;
    }
    ~XPathThreadCache() {
        clear();
        if (context)
            xmlXPathFreeContext(context);
    }

    void clear() {
        for (auto& q : queries)
            if (q.compiled)
                xmlXPathFreeCompExpr(q.compiled);
        queries.clear();
    }

    const CompiledQuery& query(const QString& expr) {
        auto it = queries.find(expr);
        if (it != queries.end())
            return *it;
        if (queries.size() >= 512)
            clear();
        CompiledQuery q;
        q.simple = parseSimplePath(expr, &q.path);
        if (!q.simple && context) {
            const QByteArray rewritten = rewriteNameTests(expr).toUtf8();
            context->doc = nullptr;
            context->node = nullptr;
            q.compiled = xmlXPathCtxtCompile(context, xc(rewritten.constData()));
        }
        return *queries.insert(expr, std::move(q));
    }
};

std::vector<XmlNode> selectFrom(xmlNodePtr context, const QString& xpath) {
    std::vector<XmlNode> result;
    if (context == nullptr || context->doc == nullptr)
        return result;
    thread_local XPathThreadCache cache;
    const CompiledQuery& q = cache.query(xpath);
    if (q.simple) {
        const auto nodes = evaluateSimplePath(q.path, context);
        result.reserve(nodes.size());
        for (xmlNodePtr node : nodes)
            result.emplace_back(node);
        return result;
    }
    if (q.compiled == nullptr)
        return result;
    xmlXPathContextPtr ctx = cache.context;
    ctx->doc = context->doc;
    ctx->node = context;
    xmlXPathObjectPtr obj = xmlXPathCompiledEval(q.compiled, ctx);
    ctx->doc = nullptr;
    ctx->node = nullptr;
    if (obj == nullptr)
        return result;
    if (obj->type == XPATH_NODESET && obj->nodesetval != nullptr) {
        result.reserve(obj->nodesetval->nodeNr);
        for (int k = 0; k < obj->nodesetval->nodeNr; ++k) {
            xmlNodePtr node = obj->nodesetval->nodeTab[k];
            if (node != nullptr && node->type == XML_ELEMENT_NODE)
                result.emplace_back(node);
        }
    }
    xmlXPathFreeObject(obj);
    return result;
}

} // namespace

// ---- XmlNode --------------------------------------------------------------------------

bool XmlNode::isElement() const {
    return m_node && m_node->type == XML_ELEMENT_NODE;
}

QString XmlNode::name() const {
    if (!isElement())
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char*>(m_node->name));
}

bool XmlNode::hasLocalName(const char* localName) const {
    if (!isElement())
        return false;
    const char* name = reinterpret_cast<const char*>(m_node->name);
    // Most names differ in their first letter; check it before calling strcmp.
    return name[0] == localName[0] && std::strcmp(name, localName) == 0;
}

bool XmlNode::hasAttributes() const {
    return isElement() && m_node->properties != nullptr;
}

bool XmlNode::hasName(const char* localName) const {
    return hasLocalName(localName) && isUnprefixed(m_node);
}

bool XmlNode::hasName(QStringView name) const {
    return isElement() && elementNameMatches(m_node, name);
}

QString XmlNode::text() const {
    if (m_node == nullptr)
        return QString();
    switch (m_node->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE: {
        const char* content = reinterpret_cast<const char*>(m_node->content);
        return content ? trimmedFromUtf8(content, qsizetype(std::strlen(content))) : QString();
    }
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_NODE:
    case XML_DOCUMENT_FRAG_NODE:
        break;
    default:
        return QString();
    }
    xmlNodePtr first = m_node->children;
    // The usual element holds one text node: no need to gather.
    if (first != nullptr && first->next == nullptr &&
        (first->type == XML_TEXT_NODE || first->type == XML_CDATA_SECTION_NODE) &&
        first->content != nullptr) {
        const char* content = reinterpret_cast<const char*>(first->content);
        return trimmedFromUtf8(content, qsizetype(std::strlen(content)));
    }
    QByteArray gathered;
    appendText(first, &gathered);
    return trimmedFromUtf8(gathered.constData(), gathered.size());
}

std::optional<QString> XmlNode::getAttribute(const QString& name) const {
    return getAttribute(utf8(name).constData());
}

std::optional<QString> XmlNode::getAttribute(const char* name) const {
    xmlAttrPtr attr = findAttribute(m_node, QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
    if (attr == nullptr)
        return std::nullopt;
    // The usual attribute value is one text node: no need to gather.
    xmlNodePtr first = attr->children;
    if (first != nullptr && first->next == nullptr && first->type == XML_TEXT_NODE &&
        first->content != nullptr)
        return QString::fromUtf8(reinterpret_cast<const char*>(first->content));
    QByteArray value;
    for (xmlNodePtr part = attr->children; part != nullptr; part = part->next)
        if (part->type == XML_TEXT_NODE && part->content)
            value.append(reinterpret_cast<const char*>(part->content));
    return QString::fromUtf8(value);
}

void XmlNode::setAttribute(const QString& name, const QString& value) {
    if (!isElement())
        return;
    const QByteArray n = utf8(name);
    const QByteArray v = utf8(value);
    xmlAttrPtr attr = findAttribute(m_node, n);
    if (attr == nullptr) {
        // xmlNewProp stores the value as plain text and appends the attribute.
        xmlNewProp(m_node, xc(n.constData()), xc(v.constData()));
        return;
    }
    // Replace the value in place so the attribute keeps its position.
    xmlFreeNodeList(attr->children);
    xmlNodePtr text = xmlNewDocText(m_node->doc, xc(v.constData()));
    text->parent = reinterpret_cast<xmlNodePtr>(attr);
    attr->children = text;
    attr->last = text;
}

XmlNode XmlNode::firstChildElement(const QString& localName) const {
    for (xmlNodePtr child = firstChildOf(m_node); child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE &&
            (localName.isEmpty() || elementNameMatches(child, localName)))
            return XmlNode(child);
    return XmlNode();
}

std::vector<XmlNode> XmlNode::childElements(const QString& localName) const {
    std::vector<XmlNode> result;
    for (xmlNodePtr child = firstChildOf(m_node); child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE &&
            (localName.isEmpty() || elementNameMatches(child, localName)))
            result.emplace_back(child);
    return result;
}

XmlNode XmlNode::parent() const {
    return XmlNode(m_node ? m_node->parent : nullptr);
}

XmlNode XmlNode::appendChild(XmlNode child) {
    if (!prepareForAttach(m_node, child.m_node))
        return XmlNode();
    // xmlAddChild merges a text node into a neighbouring one and returns the survivor.
    return XmlNode(xmlAddChild(m_node, child.m_node));
}

XmlNode XmlNode::insertBefore(XmlNode newChild, XmlNode ref) {
    if (ref.isNull())
        return appendChild(newChild);
    if (ref.m_node->parent != m_node || newChild == ref ||
        !prepareForAttach(m_node, newChild.m_node))
        return XmlNode();
    return XmlNode(xmlAddPrevSibling(ref.m_node, newChild.m_node));
}

XmlNode XmlNode::replaceChild(XmlNode newChild, XmlNode oldChild) {
    if (oldChild.isNull() || oldChild.m_node->parent != m_node)
        return XmlNode();
    if (newChild == oldChild)
        return oldChild;
    if (!prepareForAttach(m_node, newChild.m_node))
        return XmlNode();
    xmlReplaceNode(oldChild.m_node, newChild.m_node);
    noteDetached(oldChild.m_node);
    return oldChild;
}

void XmlNode::removeChild(XmlNode child) {
    if (child.isNull() || m_node == nullptr || child.m_node->parent != m_node)
        return;
    xmlUnlinkNode(child.m_node);
    xmlFreeNode(child.m_node);
}

std::vector<XmlNode> XmlNode::selectNodes(const QString& xpath) const {
    return selectFrom(m_node, xpath);
}

// ---- XmlDocument ----------------------------------------------------------------------

// ---- XmlStartTag ------------------------------------------------------------------------

namespace {

const char* orEmpty(const unsigned char* text) {
    return text ? reinterpret_cast<const char*>(text) : "";
}

// An attribute value as libxml2 hands it to a reader that expands no entities: an
// ampersand arrives as "&#38;", an entity reference as "&name;" (HTML names become their
// characters; a document's own entities are not expanded).
void decodeAttributeValue(const char* begin, const char* end, std::string* out) {
    out->clear();
    const void* amp = std::memchr(begin, '&', std::size_t(end - begin));
    if (amp == nullptr) {
        out->append(begin, std::size_t(end - begin));
        return;
    }
    for (const char* p = begin; p < end;) {
        const char* semicolon = *p == '&' ? static_cast<const char*>(
                                                std::memchr(p, ';', std::size_t(end - p)))
                                          : nullptr;
        if (semicolon == nullptr) {
            out->push_back(*p++);
            continue;
        }
        const std::string name(p + 1, semicolon);
        if (name == "#38")
            out->push_back('&');
        else if (const HtmlEntityRecords* records = findHtmlEntity(xc(name.c_str())))
            out->append(records->utf8.constData(), std::size_t(records->utf8.size()));
        p = semicolon + 1;
    }
}

// Attribute text as libxml2's serialiser writes it.
void appendEscapedAttribute(std::string* out, std::string_view value) {
    for (const char c : value) {
        switch (c) {
        case '&': out->append("&amp;"); break;
        case '<': out->append("&lt;"); break;
        case '>': out->append("&gt;"); break;
        case '"': out->append("&quot;"); break;
        case '\n': out->append("&#10;"); break;
        case '\r': out->append("&#13;"); break;
        case '\t': out->append("&#9;"); break;
        default: out->push_back(c);
        }
    }
}

void appendQualifiedName(std::string* out, const unsigned char* prefix,
                         const unsigned char* localName) {
    if (prefix != nullptr) {
        out->append(orEmpty(prefix));
        out->push_back(':');
    }
    out->append(orEmpty(localName));
}

} // namespace

bool XmlStartTag::hasLocalName(const char* localName) const {
    const char* name = this->localName();
    // Most names differ in their first letter; check it before calling strcmp.
    return name[0] == localName[0] && std::strcmp(name, localName) == 0;
}

bool XmlStartTag::isNamed(const char* namespaceUri, const char* localName) const {
    return hasLocalName(localName) && inNamespace(namespaceUri);
}

bool XmlStartTag::inNamespace(const char* namespaceUri) const {
    return std::strcmp(orEmpty(m_uri), namespaceUri) == 0;
}

const char* XmlStartTag::attributeLocalName(int i) const {
    return orEmpty(m_attributes[5 * i]);
}

void XmlStartTag::attributeValue(int i, std::string* value) const {
    decodeAttributeValue(reinterpret_cast<const char*>(m_attributes[5 * i + 3]),
                         reinterpret_cast<const char*>(m_attributes[5 * i + 4]), value);
}

bool XmlStartTag::attribute(const char* name, std::string* value) const {
    const char* colon = std::strchr(name, ':');
    const QByteArrayView prefix(name, colon ? colon - name : 0);
    const char* local = colon ? colon + 1 : name;
    int found = -1;
    for (int i = 0; i < m_attributeCount; ++i) {
        const unsigned char* const* attr = m_attributes + 5 * i;
        if (std::strcmp(orEmpty(attr[0]), local) != 0)
            continue;
        if (colon != nullptr) {
            if (attr[1] == nullptr || prefix != orEmpty(attr[1]))
                continue;
        } else if (attr[1] != nullptr) {
            if (found < 0)
                found = i;
            continue;
        }
        found = i;
        break;
    }
    if (found < 0)
        return false;
    if (value != nullptr)
        attributeValue(found, value);
    return true;
}

void XmlStartTag::appendXml(std::string* out) const {
    out->push_back('<');
    appendQualifiedName(out, m_prefix, m_localName);
    for (int i = 0; i < m_namespaceCount; ++i) {
        out->append(" xmlns");
        if (m_namespaces[2 * i] != nullptr) {
            out->push_back(':');
            out->append(orEmpty(m_namespaces[2 * i]));
        }
        out->append("=\"");
        appendEscapedAttribute(out, orEmpty(m_namespaces[2 * i + 1]));
        out->push_back('"');
    }
    for (int i = 0; i < m_attributeCount; ++i) {
        const unsigned char* const* attr = m_attributes + 5 * i;
        out->push_back(' ');
        appendQualifiedName(out, attr[1], attr[0]);
        out->append("=\"");
        std::string value;
        attributeValue(i, &value);
        appendEscapedAttribute(out, value);
        out->push_back('"');
    }
}

XmlDocument::XmlDocument() = default;

XmlDocument::~XmlDocument() {
    freeDocument(m_doc);
}

XmlDocument::XmlDocument(XmlDocument&& other) noexcept : m_doc(other.m_doc) {
    other.m_doc = nullptr;
}

XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
    if (this != &other) {
        freeDocument(m_doc);
        m_doc = other.m_doc;
        other.m_doc = nullptr;
    }
    return *this;
}

XmlDocument XmlDocument::parse(const QByteArray& bytes, QString* error,
                               const QByteArray& httpCharset) {
    XmlParseOptions options;
    options.httpCharset = httpCharset;
    return parse(bytes, options, error);
}

namespace {

// A parser context over the bytes as the options want them read, its errors collected in
// *state; null with *error set when there is none. *storage keeps converted bytes alive.
xmlParserCtxtPtr openContext(const QByteArray& bytes, const XmlParseOptions& options,
                             ParseState* state, QByteArray* storage, QString* error) {
    initLibxml();
    const QByteArray& httpCharset = options.httpCharset;
    // The document's own statement of its encoding wins; the server's charset applies only
    // to a document that states none, and only when it is known. windows-1252 and the names
    // read as it are decoded here; other encodings are libxml2's.
    const QByteArray stated = statedEncoding(bytes);
    QByteArray chosen = stated.isEmpty() ? httpCharset : stated;
    bool knownValidUtf8 = false;
    if (chosen.isEmpty() && options.guessWindows1252) {
        knownValidUtf8 = isValidUtf8(bytes);
        if (!knownValidUtf8)
            chosen = "windows-1252";
    }
    xmlCharEncodingHandlerPtr serverEncoding = nullptr;
    QByteArray& converted = *storage;
    bool ignoreDeclaration = false;
    if (namesWindows1252(chosen)) {
        converted = windows1252ToUtf8(bytes);
        ignoreDeclaration = true;
    } else if (stated.isEmpty() && !httpCharset.isEmpty() && !namesUtf8(httpCharset)) {
        serverEncoding = xmlFindCharEncodingHandler(httpCharset.constData());
    }
    const bool utf8 = !ignoreDeclaration && serverEncoding == nullptr &&
                      (stated.isEmpty() || namesUtf8(stated));
    if (utf8 && !knownValidUtf8)
        repairUtf8(bytes, &converted);
    const QByteArray& input = converted.isNull() ? bytes : converted;
    xmlParserCtxtPtr ctxt = input.size() > INT_MAX ? nullptr
                            : xmlCreateMemoryParserCtxt(input.constData(), int(input.size()));
    if (ctxt == nullptr) {
        if (serverEncoding != nullptr)
            xmlCharEncCloseFunc(serverEncoding);
        if (error)
            *error = input.size() > INT_MAX ? QStringLiteral("the document is too large")
                     : input.isEmpty()      ? QStringLiteral("the document is empty")
                                            : QStringLiteral("out of memory");
        return nullptr;
    }
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | (ignoreDeclaration ? XML_PARSE_IGNORE_ENC : 0) |
                                (options.recover ? XML_PARSE_RECOVER : 0));
    ctxt->_private = state;
    ctxt->sax->serror = collectError;
    ctxt->sax->getEntity = getEntity;
    ctxt->sax->resolveEntity = refuseExternalEntity;
    // After the error handlers: a conversion failure is reported through them.
    if (serverEncoding != nullptr)
        xmlSwitchToEncoding(ctxt, serverEncoding);
    return ctxt;
}

QString failureText(const ParseState& state) {
    return state.error.isEmpty() ? QStringLiteral("not well-formed XML") : state.error;
}

} // namespace

XmlDocument XmlDocument::parse(const QByteArray& bytes, const XmlParseOptions& options,
                               QString* error) {
    ParseState state;
    ThreadErrorRedirect redirect(&state);
    QByteArray storage;
    xmlParserCtxtPtr ctxt = openContext(bytes, options, &state, &storage, error);
    if (ctxt == nullptr)
        return XmlDocument();
    xmlParseDocument(ctxt);
    xmlDocPtr doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    const bool ok = (ctxt->wellFormed || options.recover) && doc != nullptr &&
                    xmlDocGetRootElement(doc) != nullptr;
    xmlFreeParserCtxt(ctxt);

    if (!ok) {
        if (doc)
            xmlFreeDoc(doc);
        if (error)
            *error = failureText(state);
        return XmlDocument();
    }
    if (state.htmlEntityInAttribute)
        resolveHtmlEntitiesInAttributes(doc, doc->children);
    if (error)
        error->clear();
    return XmlDocument(doc);
}

bool XmlDocument::stream(const QByteArray& bytes, const XmlParseOptions& options,
                         XmlStreamReader* reader, QString* error) {
    ParseState state;
    ThreadErrorRedirect redirect(&state);
    QByteArray storage;
    xmlParserCtxtPtr ctxt = openContext(bytes, options, &state, &storage, error);
    if (ctxt == nullptr)
        return false;
    attachStream(ctxt, &state, reader);
    xmlParseDocument(ctxt);
    reader->documentEnded();
    const bool stopped = reader->stopped();
    const bool ok = (ctxt->wellFormed || options.recover) && !stopped && state.sawElement;
    // The document holds only what the prolog declared (entities, the DTD).
    if (ctxt->myDoc != nullptr)
        xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    if (error)
        *error = ok ? QString() : stopped ? QStringLiteral("stopped") : failureText(state);
    return ok;
}

XmlDocument XmlDocument::fromFile(const QString& path, QString* error) {
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.exists()) {
        if (error)
            *error = QStringLiteral("%1: the file does not exist").arg(shown);
        return XmlDocument();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(shown, file.errorString());
        return XmlDocument();
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(shown, file.errorString());
        return XmlDocument();
    }
    QString parseError;
    XmlDocument doc = parse(bytes, &parseError);
    if (error)
        *error = doc.isNull() ? QStringLiteral("%1: %2").arg(shown, parseError) : QString();
    return doc;
}

XmlDocument XmlDocument::withRoot(const QString& rootName) {
    initLibxml();
    xmlDocPtr doc = xmlNewDoc(xc("1.0"));
    const QByteArray name = utf8(rootName);
    xmlNodePtr root = xmlNewDocNode(doc, nullptr, xc(name.constData()), nullptr);
    xmlDocSetRootElement(doc, root);
    return XmlDocument(doc);
}

XmlNode XmlDocument::documentElement() const {
    return XmlNode(m_doc ? xmlDocGetRootElement(m_doc) : nullptr);
}

XmlNode XmlDocument::createElement(const QString& name) {
    if (m_doc == nullptr)
        return XmlNode();
    const QByteArray n = utf8(name);
    xmlNodePtr node = xmlNewDocNode(m_doc, nullptr, xc(n.constData()), nullptr);
    if (node != nullptr)
        noteDetached(node);
    return XmlNode(node);
}

std::vector<XmlNode> XmlDocument::selectNodes(const QString& xpath) const {
    return selectFrom(reinterpret_cast<xmlNodePtr>(m_doc), xpath);
}

QByteArray XmlDocument::toBytes() const {
    if (m_doc == nullptr)
        return QByteArray();
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(m_doc, &mem, &size, "UTF-8", 0);
    QByteArray bytes(reinterpret_cast<const char*>(mem), size);
    xmlFree(mem);
    return bytes;
}

bool XmlDocument::save(const QString& path, QString* error) const {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    if (m_doc == nullptr)
        return fail(QStringLiteral("there is no document"));
    const QByteArray bytes = toBytes();
    if (bytes.isEmpty())
        return fail(QStringLiteral("the document could not be serialised"));
    return writeFileAtomically(path, bytes, error);
}

} // namespace quorvel
