#include "viewsetting.h"

#include "store/feedstore.h"
#include "store/settingwriters.h"
#include "store/storeaccess.h"

namespace quorvel {

PageViewKind pageViewKindFromText(const QString& text, bool* ok) {
    const QString name = text.trimmed().toLower();
    if (ok)
        *ok = true;
    if (name == QLatin1String("light"))
        return PageViewKind::Light;
    if (name == QLatin1String("web"))
        return PageViewKind::Web;
    if (ok)
        *ok = false;
    return defaultPageViewKind;
}

QString pageViewKindText(PageViewKind kind) {
    return kind == PageViewKind::Web ? QStringLiteral("web") : QStringLiteral("light");
}

PageViewKind readViewSetting(const FeedStore& store) {
    const XmlDocument document = store.load();
    if (document.isNull())
        return defaultPageViewKind;
    for (const XmlNode& root : queryNodes(document, QStringLiteral("//root")))
        if (const std::optional<QString> text = root.getAttribute(QStringLiteral("view")))
            return pageViewKindFromText(*text);
    return defaultPageViewKind;
}

bool storeViewSetting(const FeedStore& store, PageViewKind kind) {
    return storeRootSetting(store, QStringLiteral("view"), pageViewKindText(kind),
                            "storeViewSetting");
}

} // namespace quorvel
