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

    // Text content of the node and all its descendants (text and CDATA), leading and
    // trailing white space trimmed. Entity references are not expanded.
    QString text() const;

    // The attribute's text, or nullopt when the element has no such attribute
    // (an attribute present with an empty text gives an empty string).
    std::optional<QString> getAttribute(const QString& name) const;
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
