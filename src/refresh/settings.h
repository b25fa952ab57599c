#pragma once

#include <QString>

namespace quorvel {

class FeedStore;
class ReaderPort;
class XmlDocument;

// The settings in memory, as the last run of getSettings left them.
struct Settings {
    bool startMinimised = false;
    bool magnetic = false;
    QString heading;
    QString link;
    QString hover;
    QString visited;
    QString bDate;
    QString body;
    QString versionText;
    QString refreshText;
    QString transText;  // "255" when the store holds an empty text
    QString styleBlock; // the page's <style> element
};

// The style block built from the six style values, each as checkedStyleValue lets it through.
QString buildStyleBlock(const Settings& settings);
// The style block of a store at its defaults.
QString defaultStyleBlock();

// The opacity for the window: `trans` when it is a number from 1 to 255 (rounded),
// otherwise 255.
int opacityFromText(const QString& transText);

// The refresh interval to start the timer with: `refresh` when it is a whole number of
// milliseconds from 1 to 2^31-1, otherwise 60000.
int refreshIntervalFromText(const QString& refreshText);

// Reads the settings of the store into *settings, ticks "Stick to Edges" and the interval
// item through the port and builds the style block. When reading fails (missing attribute,
// text that is not Boolean) and *repairCount is below 2, it counts one repair, runs
// applySettingsDefaults and reads again; past that, it hands the failure to errorSink and
// leaves what it read so far. Returns the store document it read, for the caller to go on
// with; a null document when the store could not be loaded (*loadError then says why).
XmlDocument getSettings(const FeedStore& store, ReaderPort& port, Settings* settings,
                        int* repairCount, QString* loadError = nullptr);

} // namespace quorvel
