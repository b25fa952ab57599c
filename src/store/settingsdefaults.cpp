#include "settingsdefaults.h"

#include <utility>

#include "store/feedstore.h"
#include "store/prompter.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

// The style values in the order they are written when missing.
const std::pair<const char*, const char*> kStyleDefaults[] = {
    {"heading", "font-family:arial;font-size:12;color:#000000;font-weight:bold;font-style:normal;"},
    {"body", "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:normal;"
             "background-color:#FFFFFF"},
    {"link", "font-family:arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;"},
    {"hover", "color:#FF0000;font-weight:bold;font-style:normal;"},
    {"visited", "color:#FF0000;font-weight:bold;font-style:normal;"},
    {"bDate", "font-family:arial;font-size:11;color:#000000;font-weight:normal;font-style:italic"},
};

void setIfMissing(XmlNode& element, const QString& name, const QString& value) {
    if (!element.getAttribute(name))
        element.setAttribute(name, value);
}

// Completes a loaded store document in memory; see applySettingsDefaults.
bool completeDefaults(XmlDocument& document, QString*) {
    for (XmlNode root : queryNodes(document, QStringLiteral("//root"))) {
        // Each style value is completed on its own, so a store that lacks only one of them
        // is repaired without touching the others.
        for (const auto& [name, value] : kStyleDefaults)
            setIfMissing(root, QLatin1String(name), QLatin1String(value));
        setIfMissing(root, QStringLiteral("magnetic"), QStringLiteral("false"));
        root.setAttribute(QStringLiteral("refresh"), QStringLiteral("60000"));
        root.setAttribute(QStringLiteral("min"), QStringLiteral("false"));
        root.setAttribute(QStringLiteral("trans"), QStringLiteral("255"));
        root.setAttribute(QStringLiteral("quorvelVersion"), QLatin1String(kCurrentStoreVersion));
    }
    for (XmlNode feed : queryNodes(document, QStringLiteral("//feed"))) {
        setIfMissing(feed, QStringLiteral("num"), QStringLiteral("10"));
        setIfMissing(feed, QStringLiteral("headers"), QStringLiteral("false"));
        setIfMissing(feed, QStringLiteral("disabled"), QStringLiteral("false"));
    }
    return true;
}

} // namespace

QString defaultStyleValue(const QString& attribute) {
    for (const auto& [name, value] : kStyleDefaults)
        if (attribute == QLatin1String(name))
            return QLatin1String(value);
    return QString();
}

bool applySettingsDefaults(const FeedStore& store, QString* error) {
    return store.modify(completeDefaults, error);
}

bool createDefaultStore(const FeedStore& store, QString* error, StoreProblem* problem) {
    return store.createIfMissing(defaultStoreText(), completeDefaults, error, kStoreWaitMs,
                                 problem);
}

bool announceUpdate(Prompter& prompter, const FeedStore& store, QString* error) {
    prompter.prompt(Message{QStringLiteral("Quorvel RSS Reader"),
                            QStringLiteral("Quorvel RSS Reader will now update"),
                            MessageButtons::Ok, MessageIcon::None});
    return applySettingsDefaults(store, error);
}

bool isOlderStoreVersion(const QString& versionText) {
    QString digits = versionText;
    digits.remove(QLatin1Char('_'));
    bool ok = false;
    const qlonglong number = digits.trimmed().toLongLong(&ok);
    return !ok || number < 1600;
}

} // namespace quorvel
