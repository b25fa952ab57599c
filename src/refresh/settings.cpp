#include "settings.h"

#include <cmath>
#include <limits>

#include "refresh/readerport.h"
#include "store/displaysettings.h"
#include "store/errorsink.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

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
    // Only values in their form reach the page: a '}' or '<' in the store could otherwise end
    // the rule or the style element and add rules of its own.
    auto css = [](const char* attribute, const QString& value) {
        return checkedStyleValue(QLatin1String(attribute), value);
    };
    return QStringLiteral("<style>.heading{") + css("heading", s.heading) + QStringLiteral("}a{") +
           css("link", s.link) + QStringLiteral("}a:visited{") + css("visited", s.visited) +
           QStringLiteral("}a:hover{") + css("hover", s.hover) + QStringLiteral("}body{") +
           css("body", s.body) + QStringLiteral("}.bDate{") + css("bDate", s.bDate) +
           QStringLiteral("}</style>");
}

QString defaultStyleBlock() {
    Settings s;
    s.heading = defaultStyleValue(QStringLiteral("heading"));
    s.body = defaultStyleValue(QStringLiteral("body"));
    s.link = defaultStyleValue(QStringLiteral("link"));
    s.hover = defaultStyleValue(QStringLiteral("hover"));
    s.visited = defaultStyleValue(QStringLiteral("visited"));
    s.bDate = defaultStyleValue(QStringLiteral("bDate"));
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
