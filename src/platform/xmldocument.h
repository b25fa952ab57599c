#pragma once

#include <memory>
#include <optional>
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
    // Whether this is an element of the given local name in the given namespace (an empty
    // namespaceUri asks for an element in no namespace), whatever its prefix.
    bool isElementNamed(const char* namespaceUri, const char* localName) const;

    // Text content of the node and all its descendants (text and CDATA), leading and
    // trailing white space trimmed. Entity references are not expanded.
    QString text() const;

    // The children serialised as XML (markup kept, UTF-8 decoded), as the content of an
    // element that holds inline XHTML.
    QString innerXml() const;

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
    // Every child node (elements, text, comments...), in document order.
    std::vector<XmlNode> childNodes() const;
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

// Watches a parse as it goes (see XmlParseOptions::sink) and keeps the tree small: a
// streaming reader that needs only parts of a large document drops the rest as it ends.
class XmlParseSink {
public:
    virtual ~XmlParseSink() = default;
    // An element's start tag was read: it holds its attributes, not yet its children.
    virtual void elementStarted(XmlNode element) = 0;
    // An element ended with its whole subtree. Returning true frees it (it leaves the tree;
    // handles on it and below become invalid). The document element is never freed.
    virtual bool elementEnded(XmlNode element) = 0;
    // Whether character data directly inside the open element is kept. Asked once for the
    // character data between two element events: the answer holds until the next one.
    virtual bool keepsText(XmlNode parent) = 0;
    // Polled as elements end: true stops the parse, which then fails.
    virtual bool stopped() const { return false; }
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
    // Comments and processing instructions are not kept when a sink watches.
    XmlParseSink* sink = nullptr;
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
