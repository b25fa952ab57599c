#include "linkpolicy.h"

#include <QDesktopServices>

namespace quorvel {

namespace {

bool isWebScheme(const QString& scheme) {
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

LinkAction linkAction(const QUrl& target, const QUrl& pageUrl) {
    if (!pageUrl.isEmpty() && target.adjusted(QUrl::RemoveFragment) == pageUrl)
        return LinkAction::Show;
    const QString scheme = target.scheme().toLower();
    if (isWebScheme(scheme) || scheme == QLatin1String("mailto"))
        return LinkAction::OpenOnDesktop;
    return LinkAction::Refuse;
}

bool openOnDesktop(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool isImageAddressAllowed(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return isWebScheme(scheme) || scheme == QLatin1String("data");
}

} // namespace quorvel
