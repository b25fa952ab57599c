#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

struct _xmlDoc;
struct _xmlNode;

namespace quorvel {

class XmlDocument;

// A non-owning handle on one node of an XmlDocument. It stays valid while the document
// that owns the node lives and the node has not been freed by removeChild/replaceChild.
class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(_xmlNode* node) : m_node(node) {}

    bool isNull() const { return m_node == nullptr; }
    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const XmlNode& other) const { return m_node == other.m_node; }
    bool isElement() const;

    // Local name of an element (no prefix); empty for other node kinds.
    QString name() const;
    // Whether this is an element of the given local name, whatever its prefix.
    bool hasLocalName(const char* localName) const;
    // Whether this is an element that firstChildElement(name) would match.
    bool hasName(QStringView name) const;
    bool hasName(const char* localName) const; // a plain name only, no prefix
    bool hasAttributes() const;

    // Text content of the node and all its descendants (text and CDATA), leading and
    // trailing white space trimmed. Entity references are not expanded.
    QString text() const;

    // The attribute's text, or nullopt when the element has no such attribute
    // (an attribute present with an empty text gives an empty string).
    std::optional<QString> getAttribute(const QString& name) const;
    std::optional<QString> getAttribute(const char* name) const; // UTF-8 name
    // Sets (adds or replaces) an attribute; new attributes go after the existing ones.
    void setAttribute(const QString& name, const QString& value);

    // First child element with the given local name, or a null node. A plain name matches
    // elements written without a prefix (no namespace or a default namespace, as in
    // RSS 1.0 and Atom), not media:title for "title"; "prefix:name" matches that prefix.
    XmlNode firstChildElement(const QString& localName) const;
    // Child elements, all or only those with the given local name (matched as above), in
    // document order.
    std::vector<XmlNode> childElements(const QString& localName = QString()) const;
    XmlNode parent() const;

    // Appends child (a node of the same document, detached or not) as the last child.
    XmlNode appendChild(XmlNode child);
    // Inserts newChild before ref; a null ref appends.
    XmlNode insertBefore(XmlNode newChild, XmlNode ref);
    // Puts newChild in oldChild's place; oldChild is detached (still owned by the document
    // until it is freed with the document) and returned.
    XmlNode replaceChild(XmlNode newChild, XmlNode oldChild);
    // Detaches child from this node and frees it. Handles on it become invalid.
    void removeChild(XmlNode child);

    // XPath 1.0 evaluated with this node as context. Unprefixed element names in the
    // expression match elements of that local name written without a prefix, in no
    // namespace or in any default namespace (RSS 1.0 items are found by "//item"; an
    // itunes:image is not an "image"). Only elements are returned, in document order.
    std::vector<XmlNode> selectNodes(const QString& xpath) const;

    _xmlNode* handle() const { return m_node; }

private:
    _xmlNode* m_node = nullptr;
};

// One start tag as a stream reader meets it (see XmlStreamReader). Its texts point into
// the parser's memory: valid only during the startElement call that hands it out, except
// the names, which stay valid for the whole parse and are the same pointer for the same
// name (libxml2 interns them).
class XmlStartTag {
public:
    XmlStartTag(const unsigned char* localName, const unsigned char* prefix,
                const unsigned char* uri, int namespaceCount, const unsigned char** namespaces,
                int attributeCount, const unsigned char** attributes)
        : m_localName(localName), m_prefix(prefix), m_uri(uri), m_namespaceCount(namespaceCount),
          m_namespaces(namespaces), m_attributeCount(attributeCount), m_attributes(attributes) {}

    const char* localName() const { return reinterpret_cast<const char*>(m_localName); }
    const char* prefix() const { return reinterpret_cast<const char*>(m_prefix); } // or null
    // Whether the element has this local name and no prefix (no namespace or a default
    // one: RSS 1.0's "title", not "media:title").
    bool hasName(const char* localName) const { return !m_prefix && hasLocalName(localName); }
    bool hasLocalName(const char* localName) const;
    // This local name in this namespace ("" asks for no namespace), whatever the prefix.
    bool isNamed(const char* namespaceUri, const char* localName) const;
    // Whether the element is in this namespace ("" for none).
    bool inNamespace(const char* namespaceUri) const;
    bool hasAttributes() const { return m_attributeCount > 0; }
    // The attributes one by one, in document order.
    int attributeCount() const { return m_attributeCount; }
    const char* attributeLocalName(int i) const;
    bool attributeHasPrefix(int i) const { return m_attributes[5 * i + 1] != nullptr; }
    void attributeValue(int i, std::string* value) const;
    // Whether the element has the attribute; if so, and value is given, *value becomes its
    // text (UTF-8, references resolved). "prefix:local" matches a namespaced attribute; a
    // plain name prefers the attribute without a namespace.
    bool attribute(const char* name, std::string* value = nullptr) const;
    // The start tag as XML, "<prefix:name xmlns:p=\"...\" a=\"...\"", without its closing
    // ">" or "/>": the namespaces declared on it, then its attributes, their values escaped.
    void appendXml(std::string* out) const;

private:
    const unsigned char* m_localName;
    const unsigned char* m_prefix;
    const unsigned char* m_uri;
    int m_namespaceCount;
    const unsigned char** m_namespaces; // prefix, URI pairs
    int m_attributeCount;
    const unsigned char** m_attributes; // local name, prefix, URI, value, value end
};

// Takes a document's events while libxml2 reads it, without any tree being built: each
// element's start tag and end, and character data (text and CDATA, entity references in
// it resolved) while takesText is set. Comments, processing instructions and the
// references a document's own entities would expand to are not passed on.
class XmlStreamReader {
public:
    virtual ~XmlStreamReader() = default;
    virtual void startElement(const XmlStartTag& tag) = 0;
    virtual void endElement() = 0;
    virtual void characters(const char* utf8, int length) = 0;
    // The parse is over, read to its end or not; the names handed out are still valid.
    virtual void documentEnded() {}
    // Polled as elements end: true stops the parse, which then fails.
    virtual bool stopped() const { return false; }
    // Whether characters() is called at all; the reader sets it as its needs change (most
    // of a large document's text is wanted by no one).
    bool takesText = false;
};

struct XmlParseOptions {
    QByteArray httpCharset;
    // Reads a document that is not well-formed as far as libxml2's recovery mode gets;
    // the result is then whatever tree it built (null only when it built none).
    bool recover = false;
    // A document that states no encoding, arrives without a charset and is not valid UTF-8
    // is read as windows-1252, as browsers read such pages (else its invalid bytes become
    // U+FFFD).
    bool guessWindows1252 = false;
};

// An owned libxml2 document. Move-only.
class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Parses bytes strictly: no network, no DTD loading, no external or document-declared
    // entity expansion; HTML named entities (&nbsp;) become their characters; invalid UTF-8
    // in a UTF-8 document becomes U+FFFD. Returns a null document on any well-formedness
    // error, with the parser's reason (message and line) in *error.
    static XmlDocument parse(const QByteArray& bytes, QString* error = nullptr,
                             const QByteArray& httpCharset = QByteArray());
    // The same with the options above.
    static XmlDocument parse(const QByteArray& bytes, const XmlParseOptions& options,
                             QString* error = nullptr);
    // Reads the document as parse() does (encodings, entities, the same safety) but builds
    // no tree: its events go to reader. True when it was read to its end (with
    // options.recover: as far as recovery got, when it held an element); else *error says
    // why, "stopped" when the reader stopped it.
    static bool stream(const QByteArray& bytes, const XmlParseOptions& options,
                       XmlStreamReader* reader, QString* error = nullptr);
    // Reads the file and parses it as above; a missing or unreadable file is an error too.
    // Every error text of this function starts with the file's path.
    static XmlDocument fromFile(const QString& path, QString* error = nullptr);
    // A new document whose document element is an empty element of the given name.
    static XmlDocument withRoot(const QString& rootName);

    bool isNull() const { return m_doc == nullptr; }
    explicit operator bool() const { return m_doc != nullptr; }

    XmlNode documentElement() const;
    // A new element of this document, not yet attached.
    XmlNode createElement(const QString& name);
    // XPath over the whole document, unprefixed names matched as XmlNode::selectNodes says.
    std::vector<XmlNode> selectNodes(const QString& xpath) const;

    // UTF-8 serialisation with an XML declaration; element order and attribute texts
    // survive a parse of the result.
    QByteArray toBytes() const;
    // Writes toBytes() atomically (QSaveFile): on failure the previous file stays intact
    // and *error says why.
    bool save(const QString& path, QString* error = nullptr) const;

    _xmlDoc* handle() const { return m_doc; }

private:
    explicit XmlDocument(_xmlDoc* doc) : m_doc(doc) {}
    _xmlDoc* m_doc = nullptr;
};

} // namespace quorvel
