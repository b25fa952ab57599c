#include "settings.h"

#include <cmath>
#include <limits>

#include "refresh/readerport.h"
#include "store/errorsink.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

// A style value goes into the page's <style> element as it stands; a '<' could only serve
// to close that element early, so it is dropped.
QString cssText(const QString& value) {
    if (!value.contains(QLatin1Char('<')))
        return value;
    QString cleaned = value;
    cleaned.remove(QLatin1Char('<'));
    return cleaned;
}

struct ReadFailure {
    QString what;
};

QString requiredText(const XmlNode& root, const char* name) {
    std::optional<QString> value = root.getAttribute(QLatin1String(name));
    if (!value)
        throw ReadFailure{QStringLiteral("the setting '%1' is missing").arg(QLatin1String(name))};
    return *value;
}

bool requiredBoolean(const XmlNode& root, const char* name) {
    const QString text = requiredText(root, name);
    bool ok = false;
    const bool value = readBooleanText(text, &ok);
    if (!ok)
        throw ReadFailure{QStringLiteral("the setting '%1' is not true or false: '%2'")
                              .arg(QLatin1String(name), text)};
    return value;
}

// Reads every root's settings in the store's order; throws ReadFailure at the first setting
// that cannot be read, leaving those read so far in *settings.
void readSettings(const XmlDocument& document, ReaderPort& port, Settings* settings) {
    for (const XmlNode& root : queryNodes(document, QStringLiteral("//root"))) {
        settings->startMinimised = requiredBoolean(root, "min");
        settings->heading = requiredText(root, "heading");
        settings->link = requiredText(root, "link");
        settings->hover = requiredText(root, "hover");
        settings->visited = requiredText(root, "visited");
        settings->bDate = requiredText(root, "bDate");
        settings->body = requiredText(root, "body");
        settings->versionText = requiredText(root, "quorvelVersion");
        settings->refreshText = requiredText(root, "refresh");
        settings->transText = requiredText(root, "trans");
        if (settings->transText.isEmpty())
            settings->transText = QStringLiteral("255");
        settings->magnetic = requiredBoolean(root, "magnetic");
        port.setMagneticTicked(settings->magnetic);
        port.markIntervalForSetting(settings->refreshText);
    }
}

} // namespace

QString buildStyleBlock(const Settings& s) {
    return QStringLiteral("<style>.heading{") + cssText(s.heading) + QStringLiteral("}a{") +
           cssText(s.link) + QStringLiteral("}a:visited{") + cssText(s.visited) +
           QStringLiteral("}a:hover{") + cssText(s.hover) + QStringLiteral("}body{") +
           cssText(s.body) + QStringLiteral("}.bDate{") + cssText(s.bDate) +
           QStringLiteral("}</style>");
}

QString defaultStyleBlock() {
    Settings s;
    s.heading = QStringLiteral(
        "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;");
    s.body = QStringLiteral("font-family:arial;font-size:11;color:#000000;font-weight:normal;"
                            "font-style:normal;background-color:#FFFFFF");
    s.link = QStringLiteral(
        "font-family:arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;");
    s.hover = QStringLiteral("color:#FF0000;font-weight:bold;font-style:normal;");
    s.visited = s.hover;
    s.bDate = QStringLiteral(
        "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic");
    return buildStyleBlock(s);
}

int opacityFromText(const QString& transText) {
    bool ok = false;
    const double value = transText.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 1.0 || value > 255.0)
        return 255;
    return static_cast<int>(std::lround(value));
}

int refreshIntervalFromText(const QString& refreshText) {
    bool ok = false;
    const qint64 value = readWholeNumber(refreshText, 1, std::numeric_limits<qint32>::max(), &ok);
    return ok ? static_cast<int>(value) : 60000;
}

XmlDocument getSettings(const FeedStore& store, ReaderPort& port, Settings* settings,
                        int* repairCount, QString* loadError) {
    for (;;) {
        XmlDocument document = store.load(loadError);
        if (document.isNull())
            return document;
        try {
            readSettings(document, port, settings);
            settings->styleBlock = buildStyleBlock(*settings);
            return document;
        } catch (const ReadFailure& failure) {
            if (*repairCount < 2) {
                ++*repairCount;
                QString error;
                if (!applySettingsDefaults(store, &error)) {
                    errorSink(error, 0, QStringLiteral("applySettingsDefaults: getSettings"));
                    return document;
                }
                continue;
            }
            errorSink(QStringLiteral("There seems to be a write error, please restart Quorvel"), 0,
                      failure.what + QStringLiteral(": getSettings"));
            return document;
        }
    }
}

} // namespace quorvel
