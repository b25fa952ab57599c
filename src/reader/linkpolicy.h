#pragma once

#include <QUrl>

namespace quorvel {

// What a navigation to a URL leads to, in either page view.
enum class LinkAction { Show, OpenOnDesktop, Refuse };

// The rule behind every navigation: the page itself (any fragment) is shown; http, https and
// mailto URLs go to the desktop; everything else is refused.
LinkAction linkAction(const QUrl& target, const QUrl& pageUrl);

// Hands a URL to the desktop's handler (QDesktopServices); false when none took it.
bool openOnDesktop(const QUrl& url);

// Whether an image at this address may be shown: http, https or data: URLs.
bool isImageAddressAllowed(const QUrl& url);

} // namespace quorvel
