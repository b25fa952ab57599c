#include "readerfixtures.h"

#include <QDesktopServices>

namespace quorvel::test {

DesktopCatcher::DesktopCatcher(const QStringList& schemes) : m_schemes(schemes) {
    for (const QString& scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

DesktopCatcher::~DesktopCatcher() {
    for (const QString& scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

} // namespace quorvel::test
