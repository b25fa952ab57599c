#pragma once

#include <QString>
#include <QUrl>

namespace quorvel {

// Cleans an HTML fragment taken from a feed so that it can be placed in the page as markup.
// Ordinary formatting elements and a few harmless attributes are kept. script, style,
// applet, template and noscript go with their content; iframe, object, embed, forms and
// their controls, meta, link, base and unknown elements lose their tags but keep their
// text. Event attributes and style attributes go. URLs stay when they are http, https or
// mailto (the address only), or data:image/... in an image; relative ones are resolved
// against baseUrl, without its user info, when that is a web address. Text is escaped as
// HTML text. The work is linear in the length of the fragment: elements nested deeper than
// 256 lose their tags, and beyond the first 4 MiB the text is kept escaped rather than read
// as markup. Text without '<' or '&' is returned unchanged.
QString sanitizeHtml(const QString& fragment, const QUrl& baseUrl = QUrl());

// Escapes text for an attribute value enclosed in single or double quotes: & < > " ' become
// entities.
QString escapeAttribute(const QString& text);

// A link's URL as the page may use it: http and https URLs unchanged, mailto URLs up to
// their first '?' or '#', relative ones resolved against baseUrl without its user info when
// that is a web address (else unchanged); "#" for anything else.
QString safeUrl(const QString& url, const QUrl& baseUrl = QUrl());

} // namespace quorvel
