#include "displaysettings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include <QDir>
#include <QRegularExpression>

#include "platform/xmldocument.h"
#include "store/feedlistoperations.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storeaccess.h"
#include "store/storelock.h"

namespace quorvel {

namespace {

// The declarations of a style value in the order the display tab reads them by position.
const QStringList kFontLayout = {QStringLiteral("font-family"), QStringLiteral("font-size"),
                                 QStringLiteral("color"), QStringLiteral("font-weight"),
                                 QStringLiteral("font-style")};
const QStringList kBodyLayout = kFontLayout + QStringList{QStringLiteral("background-color")};
const QStringList kLinkStateLayout = {QStringLiteral("color"), QStringLiteral("font-weight"),
                                      QStringLiteral("font-style")};

QString declarations(const QStringList& properties, const QStringList& values) {
    QStringList parts;
    for (qsizetype i = 0; i < properties.size(); ++i)
        parts << properties.at(i) + QLatin1Char(':') + values.at(i);
    return parts.join(QLatin1Char(';'));
}

QStringList fontValues(const StyleGroup& group) {
    return {group.font, group.size, group.colour, weightOf(group.bold), styleOf(group.italic)};
}

// Reads a style value by position: field i holds the declaration layout[i]; a field is taken
// without its property name, so "font-size:12" gives "12".
void readStyleValue(const XmlNode& root, const QString& attribute, const QStringList& layout,
                    StyleGroup* group, QString* background, QStringList* problems) {
    const std::optional<QString> value = root.getAttribute(attribute);
    if (!value) {
        *problems << QStringLiteral("the display value \"%1\" is missing").arg(attribute);
        return;
    }
    QString text = value->trimmed();
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    const QStringList fields = text.split(QLatin1Char(';'));
    if (fields.size() < layout.size())
        *problems << QStringLiteral("the display value \"%1\" holds %2 of its %3 parts (\"%4\")")
                         .arg(attribute)
                         .arg(fields.size())
                         .arg(layout.size())
                         .arg(*value);
    for (qsizetype i = 0; i < layout.size() && i < fields.size(); ++i) {
        QString field = fields.at(i);
        field.remove(layout.at(i) + QLatin1Char(':'));
        field = field.trimmed();
        const QString& property = layout.at(i);
        if (property == QLatin1String("font-family"))
            group->font = field;
        else if (property == QLatin1String("font-size"))
            group->size = field;
        else if (property == QLatin1String("color"))
            group->colour = field;
        else if (property == QLatin1String("font-weight"))
            group->bold = field.compare(QLatin1String("bold"), Qt::CaseInsensitive) == 0;
        else if (property == QLatin1String("font-style"))
            group->italic = field.compare(QLatin1String("italic"), Qt::CaseInsensitive) == 0;
        else if (background)
            *background = field;
    }
}

const QStringList* layoutOf(const QString& attribute) {
    if (attribute == QLatin1String("body"))
        return &kBodyLayout;
    if (attribute == QLatin1String("hover") || attribute == QLatin1String("visited"))
        return &kLinkStateLayout;
    if (attribute == QLatin1String("heading") || attribute == QLatin1String("link") ||
        attribute == QLatin1String("bDate"))
        return &kFontLayout;
    return nullptr;
}

bool isFontName(const QString& text) {
    if (text.trimmed().isEmpty() || text.count(u'"') % 2 != 0 || text.count(u'\'') % 2 != 0)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == u' ' || c == u'-' || c == u'_' || c == u',' ||
               c == u'.' || c == u'"' || c == u'\'';
    });
}

// Whether a declaration's value has the form its property takes.
bool isInForm(const QString& property, const QString& value) {
    static const QRegularExpression size(QStringLiteral("^[0-9]{1,4}(\\.[0-9]{1,4})?$"));
    static const QRegularExpression colour(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (property == QLatin1String("font-family"))
        return isFontName(value);
    if (property == QLatin1String("font-size"))
        return size.match(value).hasMatch();
    if (property == QLatin1String("font-weight"))
        return value.compare(QLatin1String("bold"), Qt::CaseInsensitive) == 0 ||
               value.compare(QLatin1String("normal"), Qt::CaseInsensitive) == 0;
    if (property == QLatin1String("font-style"))
        return value.compare(QLatin1String("italic"), Qt::CaseInsensitive) == 0 ||
               value.compare(QLatin1String("normal"), Qt::CaseInsensitive) == 0;
    return colour.match(value).hasMatch(); // color, background-color
}

// The fields of a style value, split at ';' without the one empty field a final ';' leaves.
QStringList styleFields(const QString& value) {
    QString text = value.trimmed();
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text.split(QLatin1Char(';'));
}

// The value of field i when it declares layout[i] in its form, else nothing.
std::optional<QString> fieldValue(const QStringList& fields, const QStringList& layout,
                                  qsizetype i) {
    if (i >= fields.size())
        return std::nullopt;
    const QString field = fields.at(i).trimmed();
    const QString prefix = layout.at(i) + QLatin1Char(':');
    if (!field.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    const QString value = field.mid(prefix.size()).trimmed();
    if (!isInForm(layout.at(i), value))
        return std::nullopt;
    return value;
}

QString minutesTextFromStore(const XmlNode& root, QStringList* problems) {
    const std::optional<QString> refresh = root.getAttribute(QStringLiteral("refresh"));
    if (!refresh)
        return QStringLiteral("1");
    bool ok = false;
    const double milliseconds = refresh->trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(milliseconds)) {
        *problems << QStringLiteral("the refresh interval \"%1\" is not a number").arg(*refresh);
        return QString();
    }
    return QString::number(milliseconds / 60000.0, 'g', 15);
}

void writeDisplayValues(XmlNode& root, const DisplaySettings& settings, int refreshMs) {
    root.setAttribute(QStringLiteral("heading"), fontStyleText(settings.heading));
    root.setAttribute(QStringLiteral("body"), bodyStyleText(settings.body, settings.background));
    root.setAttribute(QStringLiteral("link"), fontStyleText(settings.link));
    root.setAttribute(QStringLiteral("hover"), linkStateStyleText(settings.hover));
    root.setAttribute(QStringLiteral("visited"), linkStateStyleText(settings.visited));
    root.setAttribute(QStringLiteral("bDate"), fontStyleText(settings.date));
    root.setAttribute(QStringLiteral("refresh"), QString::number(refreshMs));
    root.setAttribute(QStringLiteral("trans"), settings.trans.trimmed());
    root.setAttribute(QStringLiteral("min"),
                      settings.startMinimised ? QStringLiteral("true") : QStringLiteral("false"));
}

} // namespace

QString weightOf(bool bold) {
    return bold ? QStringLiteral("bold") : QStringLiteral("normal");
}

QString styleOf(bool italic) {
    return italic ? QStringLiteral("italic") : QStringLiteral("normal");
}

QStringList refreshChoices() {
    return {QStringLiteral("1"),  QStringLiteral("2"),  QStringLiteral("5"),
            QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
            QStringLiteral("60"), QStringLiteral("120")};
}

QStringList sizeChoices() {
    QStringList sizes;
    for (int size = 6; size <= 24; ++size)
        sizes << QString::number(size);
    return sizes;
}

std::optional<int> refreshMillisecondsFromMinutes(const QString& minutesText) {
    bool ok = false;
    const double minutes = minutesText.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(minutes))
        return std::nullopt;
    const double milliseconds = std::round(minutes * 60000.0);
    if (milliseconds < 1 || milliseconds > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<int>(milliseconds);
}

bool isAcceptedTransparency(const QString& transText) {
    bool ok = false;
    const double value = transText.trimmed().toDouble(&ok);
    return ok && value >= 1.0 && value <= 255.0;
}

QString fontStyleText(const StyleGroup& group) {
    return declarations(kFontLayout, fontValues(group)) + QLatin1Char(';');
}

QString bodyStyleText(const StyleGroup& group, const QString& background) {
    return declarations(kBodyLayout, fontValues(group) + QStringList{background});
}

QString linkStateStyleText(const StyleGroup& group) {
    return declarations(kLinkStateLayout,
                        {group.colour, weightOf(group.bold), styleOf(group.italic)}) +
           QLatin1Char(';');
}

QString checkedStyleValue(const QString& attribute, const QString& value) {
    const QStringList* layout = layoutOf(attribute);
    if (!layout)
        return QString();
    const QStringList fields = styleFields(value);
    bool allInForm = fields.size() == layout->size();
    for (qsizetype i = 0; allInForm && i < layout->size(); ++i)
        allInForm = fieldValue(fields, *layout, i).has_value();
    if (allInForm)
        return value;
    const QString fallback = defaultStyleValue(attribute);
    const QStringList defaults = styleFields(fallback);
    QStringList values;
    for (qsizetype i = 0; i < layout->size(); ++i)
        values << fieldValue(fields, *layout, i).value_or(*fieldValue(defaults, *layout, i));
    return declarations(*layout, values) +
           (fallback.endsWith(QLatin1Char(';')) ? QStringLiteral(";") : QString());
}

DisplaySettings readDisplaySettings(const XmlDocument& document, QStringList* problems) {
    DisplaySettings settings;
    QStringList ignored;
    if (!problems)
        problems = &ignored;
    const std::vector<XmlNode> roots = queryNodes(document, QStringLiteral("//root"));
    if (roots.empty()) {
        *problems << QStringLiteral("the store has no root element");
        return settings;
    }
    const XmlNode& root = roots.front();
    readStyleValue(root, QStringLiteral("heading"), kFontLayout, &settings.heading, nullptr,
                   problems);
    readStyleValue(root, QStringLiteral("body"), kBodyLayout, &settings.body, &settings.background,
                   problems);
    readStyleValue(root, QStringLiteral("bDate"), kFontLayout, &settings.date, nullptr, problems);
    readStyleValue(root, QStringLiteral("link"), kFontLayout, &settings.link, nullptr, problems);
    readStyleValue(root, QStringLiteral("hover"), kLinkStateLayout, &settings.hover, nullptr,
                   problems);
    readStyleValue(root, QStringLiteral("visited"), kLinkStateLayout, &settings.visited, nullptr,
                   problems);

    if (const std::optional<QString> min = root.getAttribute(QStringLiteral("min"))) {
        bool ok = false;
        settings.startMinimised = readBooleanText(*min, &ok);
        if (!ok)
            *problems
                << QStringLiteral("\"Start Minimized\" (\"%1\") is not true or false").arg(*min);
    }
    settings.refreshMinutes = minutesTextFromStore(root, problems);
    settings.trans = root.getAttribute(QStringLiteral("trans")).value_or(QString()).trimmed();
    if (settings.trans.isEmpty())
        settings.trans = QStringLiteral("255");
    return settings;
}

bool readManagerContents(const FeedStore& store, ManagerContents* contents, QString* error) {
    const XmlDocument document = store.load(error);
    if (document.isNull())
        return false;
    contents->problems.clear();
    contents->feedRows = feedListRows(document, &contents->problems);
    contents->display = readDisplaySettings(document, &contents->problems);
    return true;
}

bool saveDisplaySettings(const FeedStore& store, const DisplaySettings& settings, QString* error) {
    const std::optional<int> refresh = refreshMillisecondsFromMinutes(settings.refreshMinutes);
    if (!refresh) {
        if (error)
            *error = QStringLiteral("the refresh interval \"%1\" is not a number of minutes")
                         .arg(settings.refreshMinutes);
        return false;
    }
    return store.modify(
        [&](XmlDocument& document, QString* why) {
            std::vector<XmlNode> roots = queryNodes(document, QStringLiteral("//root"));
            if (roots.empty()) {
                *why = QStringLiteral("%1 has no root element")
                           .arg(QDir::toNativeSeparators(store.storePath()));
                return false;
            }
            for (XmlNode& root : roots)
                writeDisplayValues(root, settings, *refresh);
            return true;
        },
        error);
}

bool isStoreBusy(const FeedStore& store) {
    return StoreLock::isHeldElsewhere(store.storePath());
}

bool waitUntilStoreFree(const FeedStore& store, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (isStoreBusy(store)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Writers hold the lock only while they write the file, so a short poll suffices.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace quorvel
