#pragma once

#include <vector>

#include <QString>

#include "platform/xmldocument.h"

namespace quorvel {

class Fetcher;

// Loads a document from a file path or a file:// URL (read from disk), or through the
// fetcher from a web address (the fetcher takes http and https only). Returns a null
// document when the load or the parse failed; *error then says why.
XmlDocument loadXmlDocument(const QString& source, Fetcher* fetcher = nullptr,
                            QString* error = nullptr);

// True for an absolute http or https URL (any letter case) that names a host: the only
// addresses the reader fetches feeds from.
bool isWebAddress(const QString& url);

// Every node the XPath finds in the document (unprefixed names match by local name).
std::vector<XmlNode> queryNodes(const XmlDocument& document, const QString& xpath);

// The node's trimmed text, or fallback when there is no node.
QString nodeTextOr(const XmlNode& node, const QString& fallback);

// Drops a document that an operation has finished with.
void releaseStore(XmlDocument& document);

// Reads Boolean text: "true"/"false" in any letter case, or a decimal number (0 is false).
// *ok is false for any other text.
bool readBooleanText(const QString& text, bool* ok);

// Reads a decimal whole number in [minimum, maximum] (surrounding white space allowed);
// *ok is false for anything else.
qint64 readWholeNumber(const QString& text, qint64 minimum, qint64 maximum, bool* ok);

} // namespace quorvel
