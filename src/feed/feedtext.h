#pragma once

#include <string_view>

#include <QString>

namespace quorvel {

// Plain text as an HTML fragment that shows it: &, <, > and " escaped.
QString escapeHtmlText(const QString& text);

// Plain text that may hold character references (JSON Feed titles often carry "&amp;" or
// "&#8211;" from the HTML they were made from) as an HTML fragment: escaped like
// escapeHtmlText, but a reference stays a reference, so it shows as its character.
QString escapeHtmlTextKeepingReferences(const QString& text);

// An RFC 3339 date-time as RSS writes its dates, "Sat, 05 Dec 2026 18:30:00 +0100" (the
// offset kept, "Z" as +0000, fractions of a second dropped, English names). A date alone
// reads as midnight UTC. Text that is no such date comes back escaped, as it stands.
QString displayDate(const QString& rfc3339);
// The same for UTF-8 text, as a feed's bytes hold it.
QString displayDate(std::string_view rfc3339);

} // namespace quorvel
