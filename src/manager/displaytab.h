#pragma once

#include <optional>

#include <QStringList>
#include <QWidget>

#include "manager/colourpicker.h"
#include "store/displaysettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quorvel {

class FeedStore;
class Prompter;

// The controls of one style group; the link-state groups (hover, visited) have no font and
// no size.
struct StyleGroupControls {
    QComboBox* font = nullptr;
    QComboBox* size = nullptr;
    QLineEdit* colour = nullptr;
    QCheckBox* bold = nullptr;
    QCheckBox* italic = nullptr;
};

// The six style groups of the display tab, named as DisplaySettings names them.
struct StyleControls {
    StyleGroupControls heading;
    StyleGroupControls body;
    StyleGroupControls date;
    StyleGroupControls link;
    StyleGroupControls hover;
    StyleGroupControls visited;
};

// The manager's display tab `displaySettings`: the page's look and the reader's settings.
// Done checks and saves them; the window closes on the signals.
class DisplayTab : public QWidget {
    Q_OBJECT

public:
    // store and prompter must outlive the tab.
    DisplayTab(const FeedStore& store, Prompter& prompter, QWidget* parent = nullptr);

    void setColourChooser(ColourChooser chooser);

    // Fills the choice lists (intervals, sizes, the system's fonts) keeping the texts shown.
    void fillChoices();
    // Shows settings read from the store; until then Done refuses to save, so settings never
    // read are never written over the user's.
    void showSettings(const DisplaySettings& settings);
    void forgetSettings();
    DisplaySettings settings() const;

Q_SIGNALS:
    // The settings were saved; the refresh timer is to run at intervalMs.
    void saved(int intervalMs);
    void cancelClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onDoneClicked();
    void tellError(const QString& text);
    QLineEdit* colourBox(const QString& name);

    const FeedStore& m_store;
    Prompter& m_prompter;
    ColourChooser m_colourChooser;
    StyleControls m_styles;
    QLineEdit* m_background = nullptr;
    QLineEdit* m_trans = nullptr;
    QComboBox* m_readerRefresh = nullptr;
    QCheckBox* m_setMinCheck = nullptr;
    QStringList m_fontFamilies;
    bool m_loaded = false;
};

} // namespace quorvel
