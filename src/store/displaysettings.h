#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace quorvel {

class FeedStore;
class XmlDocument;

// The controls of one style group of the display tab. The link-state groups (hover, visited)
// use only colour, bold and italic.
struct StyleGroup {
    QString font;
    QString size;
    QString colour;
    bool bold = false;
    bool italic = false;
};

// Everything the display tab shows, as texts and tick states.
struct DisplaySettings {
    StyleGroup heading;
    StyleGroup body;
    StyleGroup date; // the store's `bDate`
    StyleGroup link;
    StyleGroup hover;
    StyleGroup visited;
    QString background;
    QString refreshMinutes; // the interval in minutes, "1.5" for 90000 ms
    QString trans;          // the opacity text, "255" when the store holds none
    bool startMinimised = false;
};

// "bold" for a ticked bold box, otherwise "normal".
QString weightOf(bool bold);
// "italic" for a ticked italic box, otherwise "normal".
QString styleOf(bool italic);

// The refresh intervals offered, in minutes: 1, 2, 5, 10, 20, 30, 60, 120.
QStringList refreshChoices();
// The font sizes offered: 6 to 24.
QStringList sizeChoices();

// The interval typed in minutes as whole milliseconds (rounded); nullopt when the text is no
// number or the interval is not between 1 ms and 2^31-1 ms.
std::optional<int> refreshMillisecondsFromMinutes(const QString& minutesText);

// True when the text reads as a number from 1 to 255, bounds included (12.5 passes).
bool isAcceptedTransparency(const QString& transText);

// The style values as the store holds them: the five font declarations, each ending with
// ";" (`heading`, `link`, `bDate`); `body` with the background last and no ";" after it;
// the three link-state declarations (`hover`, `visited`).
QString fontStyleText(const StyleGroup& group);
QString bodyStyleText(const StyleGroup& group, const QString& background);
QString linkStateStyleText(const StyleGroup& group);

// A style value as the page's style block may use it. Each field is checked against its
// form: a font name of letters, digits, spaces and - _ , . with quotes in pairs; a size as a
// decimal number; a colour as "#" and six hexadecimal digits; bold or normal; italic or
// normal. A value whose fields all pass, in the layout's order and number, comes back
// unchanged; otherwise it is written anew with every failing or missing field taken from
// the default (so no stored text can end the rule and add its own, such as a remote
// background image). attribute names the value: `heading`, `link`, `bDate`, `body`,
// `hover` or `visited`; for any other name the result is empty.
QString checkedStyleValue(const QString& attribute, const QString& value);

// Reads the display settings from the store document. A value that is missing or shorter
// than its layout leaves the fields it lacks empty and is described in *problems.
DisplaySettings readDisplaySettings(const XmlDocument& document, QStringList* problems);

// What the manager window shows when it opens: the feed list rows (one per feed entry, as
// feedListRows gives them) and the display settings, with every value that could not be read
// described in problems.
struct ManagerContents {
    QStringList feedRows;
    DisplaySettings display;
    QStringList problems;
};

// Loads the store once and reads both; false, with *error saying why, when it cannot be
// loaded.
bool readManagerContents(const FeedStore& store, ManagerContents* contents,
                         QString* error = nullptr);

// Writes the six style values, `refresh`, `trans` and `min` to the store's root and saves
// the file. Returns false, with the file unchanged and *error naming the reason, when the
// store cannot be loaded or saved or the interval is no valid number of minutes.
bool saveDisplaySettings(const FeedStore& store, const DisplaySettings& settings,
                         QString* error = nullptr);

// True while another writer holds the store's lock.
bool isStoreBusy(const FeedStore& store);
// Waits until no other writer holds the store's lock; false when it is still held after
// timeoutMs. Blocks the calling thread for that long at most.
bool waitUntilStoreFree(const FeedStore& store, int timeoutMs);

} // namespace quorvel
