#include "settingwriters.h"

#include <QString>

#include "store/errorsink.h"
#include "store/feedstore.h"
#include "store/storeaccess.h"

namespace quorvel {

bool storeRootSetting(const FeedStore& store, const QString& name, const QString& value,
                        const char* source) {
    QString error;
    const bool saved = store.modify(
        [&](XmlDocument& document, QString*) {
            for (XmlNode root : queryNodes(document, QStringLiteral("//root")))
                root.setAttribute(name, value);
            return true;
        },
        &error);
    if (saved)
        return true;
    errorSink(error, 0, QLatin1String(source));
    return false;
}

bool storeRefreshSetting(const FeedStore& store, qint64 intervalMs) {
    return storeRootSetting(store, QStringLiteral("refresh"), QString::number(intervalMs),
                              "storeRefreshSetting");
}

bool storeMagneticSetting(const FeedStore& store, bool ticked) {
    return storeRootSetting(store, QStringLiteral("magnetic"),
                              ticked ? QStringLiteral("true") : QStringLiteral("false"),
                              "storeMagneticSetting");
}

} // namespace quorvel
