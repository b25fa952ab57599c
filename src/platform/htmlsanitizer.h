#pragma once

#include <QString>

namespace quorvel {

// Cleans an HTML fragment taken from a feed so that it can be placed in the page as markup:
// ordinary formatting elements and attributes are kept; script, style, iframe, object,
// embed, form controls, event attributes (on*) and any URL attribute whose scheme is not
// http, https or mailto (relative URLs are kept) are removed. Text is escaped as HTML text.
// Text without '<' or '&' is returned unchanged.
QString sanitizeHtml(const QString& fragment);

// sanitizeHtml without its fast path for simple markup: always through the HTML parser
// (tests compare the two).
QString sanitizeHtmlWithParser(const QString& fragment);

// Escapes text for an attribute value enclosed in single quotes: & < > " ' become entities.
QString escapeAttribute(const QString& text);

// The URL if its scheme is http, https or mailto, or it has no scheme (relative, or an
// in-page anchor); otherwise "#".
QString safeUrl(const QString& url);

} // namespace quorvel
