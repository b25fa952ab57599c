#include "managerwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "manager/feedlistwidgetview.h"
#include "platform/atomicfile.h"
#include "platform/curlfetcher.h"
#include "store/feedlistoperations.h"
#include "store/feedstore.h"
#include "store/opml.h"
#include "store/prompter.h"

namespace quorvel {

namespace {

// Messages without a title of their own carry the program's name.
const QString kProgramTitle = QStringLiteral("Quorvel RSS Reader");
// The style groups that have a font and a size besides colour, bold and italic.
const QStringList kFontGroups = {QStringLiteral("heading"), QStringLiteral("body"),
                                 QStringLiteral("date"), QStringLiteral("link")};
const QString kColourSuffix = QStringLiteral("_colour");

// The layout was drawn in twips; 15 twips make one device-independent pixel.
constexpr int px(int twips) {
    return twips / 15;
}

template <typename W> W* named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* caption(const QString& text, const QString& name = QString()) {
    auto* label = new QLabel(text);
    // Plain text keeps the leading spaces of the section captions.
    label->setTextFormat(Qt::PlainText);
    if (!name.isEmpty())
        label->setObjectName(name);
    return label;
}

QPushButton* button(const QString& text, const QString& name, int widthTwips) {
    auto* result = named(new QPushButton(text), name);
    result->setMinimumWidth(px(widthTwips));
    return result;
}

QCheckBox* checkBox(const QString& name, const QString& accessibleName) {
    auto* box = named(new QCheckBox, name);
    box->setAccessibleName(accessibleName);
    return box;
}

QComboBox* editableCombo(const QString& name, int widthTwips) {
    auto* combo = named(new QComboBox, name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumWidth(px(widthTwips));
    return combo;
}

QLineEdit* colourBox(const QString& name, QObject* clickFilter) {
    auto* box = named(new QLineEdit, name);
    box->setMinimumWidth(px(1575));
    box->setToolTip(QStringLiteral("Click to choose a colour"));
    box->installEventFilter(clickFilter);
    return box;
}

// Refilling a combo must not change the value it shows.
void fillKeepingText(QComboBox* list, const QStringList& items) {
    const QString text = list->currentText();
    list->clear();
    list->addItems(items);
    list->setEditText(text);
}

// One row of a style group: font and size (when the group has them), colour, bold, italic,
// starting at column, with the column captions in the row above.
void addStyleRow(QGridLayout* grid, int row, int column, const QString& prefix, bool withFont,
                 QObject* clickFilter) {
    if (withFont) {
        grid->addWidget(caption(QStringLiteral("Font")), row - 1, column);
        auto* font = editableCombo(prefix + QStringLiteral("_font"), 1815);
        font->setEditText(QStringLiteral("Arial"));
        grid->addWidget(font, row, column++);
        grid->addWidget(caption(QStringLiteral("Size")), row - 1, column);
        grid->addWidget(editableCombo(prefix + QStringLiteral("_size"), 855), row, column++);
    }
    grid->addWidget(caption(QStringLiteral("Colour")), row - 1, column);
    grid->addWidget(colourBox(prefix + kColourSuffix, clickFilter), row, column++);
    grid->addWidget(caption(QStringLiteral("Bold")), row - 1, column);
    grid->addWidget(checkBox(prefix + QStringLiteral("_bold"), QStringLiteral("Bold")), row,
                    column++);
    grid->addWidget(caption(QStringLiteral("Italic")), row - 1, column);
    grid->addWidget(checkBox(prefix + QStringLiteral("_italic"), QStringLiteral("Italic")), row,
                    column);
}

QString openFileDialog(QWidget* parent, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
}

QString saveFileDialog(QWidget* parent, const QString& folder, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export OPML"), folder, filter);
}

// The refresh interval an OPML import leaves in force: two hours.
constexpr int kImportedRefreshMs = 7200000;

} // namespace

ManagerWindow::ManagerWindow(const FeedStore& store, Prompter& prompter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_store(store), m_prompter(prompter),
      m_colourChooser(dialogColourChooser()), m_fileChooser(openFileDialog),
      m_saveFileChooser(saveFileDialog),
      m_storeWaitMs(kStoreWaitMs) {
    setObjectName(QStringLiteral("rssEditor"));
    setWindowTitle(QStringLiteral("Quorvel RSS Feed Manager"));
    m_settings = named(new QTabWidget, QStringLiteral("settings"));
    m_settings->addTab(buildFeedsPage(), QStringLiteral("Feeds"));
    m_settings->addTab(buildDisplayPage(), QStringLiteral("Display"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_settings);
    m_feedListView = std::make_unique<FeedListWidgetView>(m_feeds, m_newFeed, m_numArticles,
                                                          m_justHeadings, m_feedDisabled);
    resize(QSize(px(6735), px(8940)).expandedTo(sizeHint()));
}

ManagerWindow::~ManagerWindow() {
    // An export still looking titles up is cancelled; its thread uses this window's fetcher.
    if (m_exportThread.joinable()) {
        m_exportCancelled->store(true);
        m_fetcher->cancel();
        m_exportThread.join();
    }
}

void ManagerWindow::setColourChooser(ColourChooser chooser) {
    m_colourChooser = std::move(chooser);
}

void ManagerWindow::setFileChooser(FileChooser chooser) {
    m_fileChooser = std::move(chooser);
}

void ManagerWindow::setSaveFileChooser(FileChooser chooser) {
    m_saveFileChooser = std::move(chooser);
}

void ManagerWindow::setFetcher(std::unique_ptr<Fetcher> fetcher) {
    m_fetcher = std::move(fetcher);
}

void ManagerWindow::setStoreWaitMs(int milliseconds) {
    m_storeWaitMs = milliseconds;
}

QWidget* ManagerWindow::buildFeedsPage() {
    auto* page = named(new QWidget, QStringLiteral("feedSettings"));

    m_newFeed = named(new QLineEdit, QStringLiteral("newFeed"));
    m_newFeed->setMinimumWidth(px(3975));
    m_numArticles = named(new QLineEdit(QStringLiteral("10")), QStringLiteral("numArticles"));
    m_numArticles->setFixedWidth(px(720));
    m_justHeadings = checkBox(QStringLiteral("justHeadings"), QStringLiteral("Headings"));
    m_feedDisabled = checkBox(QStringLiteral("feedDisabled"), QStringLiteral("Disabled"));
    auto* entry = new QGridLayout;
    entry->addWidget(caption(QStringLiteral("Add/Edit  Feed"), QStringLiteral("Label2")), 0, 0);
    entry->addWidget(m_newFeed, 1, 0);
    entry->addWidget(caption(QStringLiteral("Articles"), QStringLiteral("articles")), 0, 1);
    entry->addWidget(m_numArticles, 1, 1);
    entry->addWidget(caption(QStringLiteral("Headings"), QStringLiteral("Label28")), 0, 2);
    entry->addWidget(m_justHeadings, 1, 2, Qt::AlignHCenter);
    entry->addWidget(caption(QStringLiteral("Disabled"), QStringLiteral("Label40")), 0, 3);
    entry->addWidget(m_feedDisabled, 1, 3, Qt::AlignHCenter);
    entry->setColumnStretch(0, 1);

    m_feeds = named(new QListWidget, QStringLiteral("Feeds"));
    m_feeds->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_feeds->setMinimumSize(px(6015), px(4980));
    auto arrowButton = [this](const QString& name, QStyle::StandardPixmap arrow,
                              const QString& tip) {
        auto* result = named(new QPushButton, name);
        result->setIcon(style()->standardIcon(arrow));
        result->setIconSize(QSize(20, 20));
        result->setFixedSize(px(375) + 4, px(375) + 4);
        result->setToolTip(tip);
        result->setAccessibleName(tip);
        return result;
    };
    auto* up = arrowButton(QStringLiteral("moveFeedUp"), QStyle::SP_ArrowUp,
                           QStringLiteral("Move the feed up"));
    auto* down = arrowButton(QStringLiteral("moveFeedDown"), QStyle::SP_ArrowDown,
                             QStringLiteral("Move the feed down"));
    auto* moves = new QVBoxLayout;
    moves->addSpacing(px(1320 - 1080));
    moves->addWidget(up);
    moves->addSpacing(px(2520 - 1320 - 375));
    moves->addWidget(down);
    moves->addStretch();
    auto* list = new QHBoxLayout;
    list->addWidget(m_feeds, 1);
    list->addLayout(moves);

    auto* add = button(QStringLiteral("&Add"), QStringLiteral("Add"), 975);
    auto* remove = button(QStringLiteral("&Delete"), QStringLiteral("Delete"), 975);
    m_edit = button(QStringLiteral("&Edit"), QStringLiteral("edit"), 975);
    m_edit->setEnabled(false);
    auto* done = button(QStringLiteral("D&one"), QStringLiteral("done"), 1095);
    auto* changes = new QHBoxLayout;
    changes->addWidget(add);
    changes->addWidget(remove);
    changes->addWidget(m_edit);
    changes->addStretch();
    changes->addWidget(done);
    changes->addSpacing(px(6615 - 5415));

    auto* line = named(new QFrame, QStringLiteral("Line16"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    m_loadOpmlText = named(new QLineEdit, QStringLiteral("loadOPML_text"));
    m_loadOpmlText->setMinimumWidth(px(3615));
    auto* browse = button(QStringLiteral("Browse"), QStringLiteral("browseforOPML"), 1335);
    auto* import = button(QStringLiteral("Import"), QStringLiteral("importForOPML"), 1335);
    auto* cancel = button(QStringLiteral("Cancel"), QStringLiteral("feed_cancel"), 1335);
    auto* exportList = button(QStringLiteral("Export OPML"), QStringLiteral("exportOPML"), 1335);
    auto* opml = new QGridLayout;
    opml->addWidget(caption(QStringLiteral("Import OPML"), QStringLiteral("Label39")), 0, 0, 1, 2);
    opml->addWidget(m_loadOpmlText, 1, 0, 1, 2);
    opml->addWidget(browse, 1, 2);
    opml->addWidget(import, 2, 0);
    opml->addWidget(cancel, 2, 1);
    opml->addWidget(exportList, 2, 2);
    opml->setColumnStretch(3, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(entry);
    layout->addSpacing(px(120));
    layout->addWidget(caption(QStringLiteral("Current Feeds"), QStringLiteral("Label1")));
    layout->addLayout(list, 1);
    layout->addLayout(changes);
    layout->addSpacing(px(240));
    layout->addWidget(line);
    layout->addSpacing(px(120));
    layout->addLayout(opml);

    connect(add, &QPushButton::clicked, this, &ManagerWindow::onAddClicked);
    connect(m_edit, &QPushButton::clicked, this, &ManagerWindow::onEditClicked);
    connect(remove, &QPushButton::clicked, this, &ManagerWindow::onDeleteClicked);
    connect(up, &QPushButton::clicked, this, &ManagerWindow::onMoveFeedUpClicked);
    connect(down, &QPushButton::clicked, this, &ManagerWindow::onMoveFeedDownClicked);
    connect(done, &QPushButton::clicked, this, &ManagerWindow::onDoneClicked);
    connect(browse, &QPushButton::clicked, this, &ManagerWindow::onBrowseClicked);
    connect(import, &QPushButton::clicked, this, &ManagerWindow::onImportClicked);
    connect(cancel, &QPushButton::clicked, this, &ManagerWindow::onFeedCancelClicked);
    connect(exportList, &QPushButton::clicked, this, &ManagerWindow::onExportClicked);
    // A click on the current row changes no current row, so both signals are needed.
    connect(m_feeds, &QListWidget::itemClicked, this, &ManagerWindow::onFeedsRowSelected);
    connect(m_feeds, &QListWidget::currentRowChanged, this, &ManagerWindow::onFeedsRowSelected);
    return page;
}

QWidget* ManagerWindow::buildDisplayPage() {
    auto* page = named(new QWidget, QStringLiteral("displaySettings"));

    auto* groups = new QGridLayout;
    const std::pair<QString, QString> sections[] = {
        {QStringLiteral("   Heading"), QStringLiteral("heading")},
        {QStringLiteral("   Article"), QStringLiteral("body")},
        {QStringLiteral("   Date"), QStringLiteral("date")},
        {QStringLiteral("   Link"), QStringLiteral("link")},
    };
    int row = 0;
    for (const auto& [title, prefix] : sections) {
        groups->addWidget(caption(title), row, 0, 1, 5);
        addStyleRow(groups, row + 2, 0, prefix, true, this);
        groups->setRowMinimumHeight(row + 3, px(240));
        row += 4;
    }

    auto* linkStates = new QGridLayout;
    linkStates->addWidget(caption(QStringLiteral("   Link Hover")), 0, 0, 1, 3);
    addStyleRow(linkStates, 2, 0, QStringLiteral("hover"), false, this);
    linkStates->setColumnMinimumWidth(3, px(240));
    linkStates->addWidget(caption(QStringLiteral("   Link Visited")), 0, 4, 1, 3);
    addStyleRow(linkStates, 2, 4, QStringLiteral("visited"), false, this);
    linkStates->setColumnStretch(7, 1);

    m_setMinCheck = checkBox(QStringLiteral("setMinCheck"), QStringLiteral("Start Minimized"));
    m_trans = named(new QLineEdit, QStringLiteral("trans"));
    m_trans->setMinimumWidth(px(1575));
    m_readerRefresh = editableCombo(QStringLiteral("readerRefresh"), 1695);
    auto* startMinimised = new QHBoxLayout;
    startMinimised->addWidget(caption(QStringLiteral("Start Minimized")));
    startMinimised->addWidget(m_setMinCheck);
    startMinimised->addStretch();
    auto* reader = new QGridLayout;
    reader->addWidget(caption(QStringLiteral("  Background")), 0, 0);
    reader->addWidget(caption(QStringLiteral("Colour")), 1, 0);
    reader->addWidget(colourBox(QStringLiteral("bg_colour"), this), 2, 0);
    reader->addLayout(startMinimised, 1, 1);
    reader->addWidget(caption(QStringLiteral("Transparency (1 - 255)")), 2, 1);
    reader->addWidget(m_trans, 3, 1);
    reader->addWidget(caption(QStringLiteral("Refresh")), 1, 2);
    reader->addWidget(m_readerRefresh, 2, 2);
    reader->setColumnStretch(3, 1);

    auto* done = button(QStringLiteral("Done"), QStringLiteral("display_done"), 1335);
    auto* cancel = button(QStringLiteral("Cancel"), QStringLiteral("display_cancel"), 1335);
    auto* buttons = new QHBoxLayout;
    buttons->addSpacing(px(1560));
    buttons->addWidget(done);
    buttons->addSpacing(px(3720 - 1560 - 1335));
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(groups);
    layout->addLayout(linkStates);
    layout->addSpacing(px(240));
    layout->addLayout(reader);
    layout->addSpacing(px(360));
    layout->addLayout(buttons);
    layout->addStretch();

    connect(done, &QPushButton::clicked, this, &ManagerWindow::onDisplayDoneClicked);
    connect(cancel, &QPushButton::clicked, this, &ManagerWindow::onDisplayCancelClicked);
    return page;
}

template <typename T> T* ManagerWindow::control(const QString& name) const {
    return findChild<T*>(name);
}

void ManagerWindow::openWindow() {
    show();
    raise();
    activateWindow();
    // Filled after showing, so that a message about the store appears over the window.
    loadManagerSettings();
}

void ManagerWindow::loadManagerSettings() {
    fillRefreshList(m_readerRefresh);
    for (const QString& prefix : kFontGroups) {
        fillSizeList(prefix);
        fillFontList(prefix);
    }
    m_displayLoaded = false;
    const QString path = QDir::toNativeSeparators(m_store.storePath());
    if (!waitUntilStoreFree(m_store, m_storeWaitMs)) {
        tellError(QStringLiteral("The feed store %1 is being written elsewhere and did not become "
                                 "free within %2 seconds.\n\nThe window opens empty; close it "
                                 "and open it again to edit the feeds and the display.")
                      .arg(path)
                      .arg(m_storeWaitMs / 1000.0));
        return;
    }
    ManagerContents contents;
    QString error;
    if (!readManagerContents(m_store, &contents, &error)) {
        tellError(QStringLiteral("The feed store %1 could not be read: %2\n\nThe window opens "
                                 "empty.")
                      .arg(path, error));
        return;
    }
    runListOperation([&] {
        m_feedListView->clearRows();
        for (const QString& row : contents.feedRows)
            m_feedListView->appendRow(row);
        return true;
    });
    showDisplaySettings(contents.display);
    m_displayLoaded = true;
    if (!contents.problems.isEmpty())
        tellError(QStringLiteral("Some values in the feed store %1 could not be read:\n\n- %2\n\n"
                                 "The window shows what could be read. \"Done\" on the Display "
                                 "tab writes the display values as they are shown.")
                      .arg(path, contents.problems.join(QStringLiteral("\n- "))));
}

void ManagerWindow::fillRefreshList(QComboBox* list) {
    fillKeepingText(list, refreshChoices());
}

void ManagerWindow::fillSizeList(const QString& prefix) {
    if (auto* list = control<QComboBox>(prefix + QStringLiteral("_size")))
        fillKeepingText(list, sizeChoices());
}

void ManagerWindow::fillFontList(const QString& prefix) {
    if (m_fontFamilies.isEmpty()) {
        m_fontFamilies = QFontDatabase::families();
        m_fontFamilies.sort(Qt::CaseInsensitive);
    }
    if (auto* list = control<QComboBox>(prefix + QStringLiteral("_font")))
        fillKeepingText(list, m_fontFamilies);
}

void ManagerWindow::showDisplaySettings(const DisplaySettings& settings) {
    auto showGroup = [this](const QString& prefix, const StyleGroup& group) {
        if (auto* font = control<QComboBox>(prefix + QStringLiteral("_font")))
            font->setEditText(group.font);
        if (auto* size = control<QComboBox>(prefix + QStringLiteral("_size")))
            size->setEditText(group.size);
        control<QLineEdit>(prefix + kColourSuffix)->setText(group.colour);
        control<QCheckBox>(prefix + QStringLiteral("_bold"))->setChecked(group.bold);
        control<QCheckBox>(prefix + QStringLiteral("_italic"))->setChecked(group.italic);
    };
    showGroup(QStringLiteral("heading"), settings.heading);
    showGroup(QStringLiteral("body"), settings.body);
    showGroup(QStringLiteral("date"), settings.date);
    showGroup(QStringLiteral("link"), settings.link);
    showGroup(QStringLiteral("hover"), settings.hover);
    showGroup(QStringLiteral("visited"), settings.visited);
    control<QLineEdit>(QStringLiteral("bg_colour"))->setText(settings.background);
    m_readerRefresh->setEditText(settings.refreshMinutes);
    m_trans->setText(settings.trans);
    m_setMinCheck->setChecked(settings.startMinimised);
}

DisplaySettings ManagerWindow::displaySettingsFromControls() const {
    auto readGroup = [this](const QString& prefix) {
        StyleGroup group;
        if (const auto* font = control<QComboBox>(prefix + QStringLiteral("_font")))
            group.font = font->currentText();
        if (const auto* size = control<QComboBox>(prefix + QStringLiteral("_size")))
            group.size = size->currentText();
        group.colour = control<QLineEdit>(prefix + kColourSuffix)->text();
        group.bold = control<QCheckBox>(prefix + QStringLiteral("_bold"))->isChecked();
        group.italic = control<QCheckBox>(prefix + QStringLiteral("_italic"))->isChecked();
        return group;
    };
    DisplaySettings settings;
    settings.heading = readGroup(QStringLiteral("heading"));
    settings.body = readGroup(QStringLiteral("body"));
    settings.date = readGroup(QStringLiteral("date"));
    settings.link = readGroup(QStringLiteral("link"));
    settings.hover = readGroup(QStringLiteral("hover"));
    settings.visited = readGroup(QStringLiteral("visited"));
    settings.background = control<QLineEdit>(QStringLiteral("bg_colour"))->text();
    settings.refreshMinutes = m_readerRefresh->currentText();
    settings.trans = m_trans->text();
    settings.startMinimised = m_setMinCheck->isChecked();
    return settings;
}

bool ManagerWindow::runListOperation(const std::function<bool()>& operation) {
    m_listOperationRunning = true;
    const bool changed = operation();
    m_listOperationRunning = false;
    return changed;
}

void ManagerWindow::tellError(const QString& text) {
    m_prompter.prompt(
        Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation});
}

void ManagerWindow::clearEntryFields() {
    m_newFeed->clear();
    m_numArticles->setText(QStringLiteral("10"));
    m_justHeadings->setChecked(false);
    m_newFeed->setFocus();
}

void ManagerWindow::onAddClicked() {
    if (m_newFeed->text().trimmed().isEmpty()) {
        tellError(QStringLiteral("Please type in a valid RSS URL"));
        return;
    }
    if (m_numArticles->text().trimmed().isEmpty()) {
        tellError(QStringLiteral("Please include the number of articles you would like to "
                                 "include (Default 10)"));
        return;
    }
    const std::optional<int> count = articleCountOrTell(m_numArticles->text(), m_prompter);
    if (!count)
        return;
    const QString url = withUrlScheme(m_newFeed->text());
    // On a failure the typed entry stays, so the user can try again without retyping.
    if (!runListOperation(
            [&] { return addFeed(m_store, *m_feedListView, m_prompter, url, *count); }))
        return;
    m_newFeed->clear();
    m_justHeadings->setChecked(false);
    m_feedDisabled->setChecked(false);
    m_newFeed->setFocus();
}

void ManagerWindow::onEditClicked() {
    if (m_feeds->selectedItems().isEmpty()) {
        tellError(QStringLiteral("Please select a feed to edit"));
        clearEntryFields();
        return;
    }
    if (runListOperation(
            [&] { return editSelectedFeed(m_store, *m_feedListView, m_prompter, m_storeWaitMs); }))
        clearEntryFields();
}

void ManagerWindow::onDeleteClicked() {
    if (m_feeds->selectedItems().isEmpty()) {
        tellError(QStringLiteral("Please select a feed to remove"));
        return;
    }
    runListOperation([&] { return deleteSelectedFeeds(m_store, *m_feedListView, m_prompter); });
}

void ManagerWindow::onMoveFeedUpClicked() {
    if (runListOperation([&] { return moveSelectedFeedUp(m_store, *m_feedListView, m_prompter); }))
        onFeedsRowSelected();
}

void ManagerWindow::onMoveFeedDownClicked() {
    if (runListOperation(
            [&] { return moveSelectedFeedDown(m_store, *m_feedListView, m_prompter); }))
        onFeedsRowSelected();
}

void ManagerWindow::onFeedsRowSelected() {
    if (m_listOperationRunning)
        return;
    const QListWidgetItem* item = m_feeds->currentItem();
    if (!item)
        return;
    const std::optional<FeedRowFields> fields = parseFeedListRow(item->text());
    if (!fields)
        return;
    m_newFeed->setText(fields->url);
    m_numArticles->setText(fields->countText);
    m_justHeadings->setChecked(fields->headingsOnly);
    m_feedDisabled->setChecked(fields->disabled);
    m_edit->setEnabled(true);
}

void ManagerWindow::onBrowseClicked() {
    const QString path =
        m_fileChooser(this, QDir::homePath(), QStringLiteral("XML (*.xml);;All files (*)"));
    if (!path.isEmpty())
        m_loadOpmlText->setText(QDir::toNativeSeparators(path));
}

void ManagerWindow::onImportClicked() {
    if (m_loadOpmlText->text().trimmed().isEmpty()) {
        m_prompter.prompt(Message{kProgramTitle, QStringLiteral("Please select a source"),
                                  MessageButtons::Ok, MessageIcon::None});
        return;
    }
    importOpml(m_loadOpmlText->text().trimmed());
}

void ManagerWindow::onExportClicked() {
    exportOpml();
}

void ManagerWindow::importOpml(const QString& path) {
    const OpmlImportResult result =
        quorvel::importOpml(m_store, path, m_feedListView.get(), m_storeWaitMs);
    if (!result.ok) {
        tellError(opmlImportFailureText(result) + QStringLiteral("\n\n") + result.error);
        return;
    }
    if (result.skipped > 0)
        m_prompter.prompt(Message{kProgramTitle, opmlImportSummary(result) + QLatin1Char('.'),
                                  MessageButtons::Ok, MessageIcon::Information});
    Q_EMIT refreshTimerStopRequested();
    Q_EMIT refreshTimerRestartRequested(kImportedRefreshMs);
}

void ManagerWindow::exportOpml() {
    if (m_exportThread.joinable())
        return;
    const QString target =
        m_saveFileChooser(this, QDir::homePath(), QStringLiteral("XML (*.xml);;All files (*)"));
    if (target.isEmpty())
        return;
    if (!m_fetcher)
        m_fetcher = std::make_unique<CurlFetcher>();
    m_exportCancelled = std::make_shared<std::atomic<bool>>(false);
    m_exportProgress = new QProgressDialog(QStringLiteral("Looking up the feeds' titles..."),
                                           QStringLiteral("Cancel"), 0, 0, this);
    m_exportProgress->setObjectName(QStringLiteral("exportProgress"));
    m_exportProgress->setWindowTitle(QStringLiteral("Export OPML"));
    m_exportProgress->setWindowModality(Qt::WindowModal);
    m_exportProgress->setMinimumDuration(0);
    m_exportProgress->setAutoClose(false);
    m_exportProgress->setAutoReset(false);
    connect(m_exportProgress, &QProgressDialog::canceled, this, [this] {
        m_exportCancelled->store(true);
        m_fetcher->cancel();
    });
    m_exportProgress->show();
    QPointer<QProgressDialog> progress = m_exportProgress;
    m_exportThread = std::thread([this, target, progress] {
        QString text;
        QString error;
        const bool built = buildOpmlExport(m_store, *m_fetcher, &text, &error,
                                           [&](int done, int total) {
            QMetaObject::invokeMethod(
                this,
                [progress, done, total] {
                    if (progress) {
                        progress->setMaximum(total);
                        progress->setValue(done);
                    }
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this, [this, built, text, error, target] { finishExport(built, text, error, target); },
            Qt::QueuedConnection);
    });
}

void ManagerWindow::finishExport(bool built, const QString& text, const QString& error,
                                 const QString& target) {
    m_exportThread.join();
    if (m_exportProgress) {
        m_exportProgress->deleteLater();
        m_exportProgress = nullptr;
    }
    if (m_exportCancelled->load())
        return;
    QString writeError = error;
    if (!built || !writeFileAtomically(target, text.toUtf8(), &writeError))
        tellError(QStringLiteral("The feeds could not be exported.\n\n") + writeError);
}

void ManagerWindow::onDoneClicked() {
    closeSkippingRefresh();
    Q_EMIT refreshRequested();
}

void ManagerWindow::onFeedCancelClicked() {
    closeSkippingRefresh();
}

void ManagerWindow::onDisplayDoneClicked() {
    if (!isAcceptedTransparency(m_trans->text())) {
        m_prompter.prompt(Message{kProgramTitle,
                                  QStringLiteral("The transparency should be between 1 and 255"),
                                  MessageButtons::Ok, MessageIcon::Exclamation});
        m_trans->setFocus();
        return;
    }
    const std::optional<int> interval =
        refreshMillisecondsFromMinutes(m_readerRefresh->currentText());
    if (!interval) {
        tellError(QStringLiteral("The refresh interval should be a number of minutes greater "
                                 "than 0"));
        m_readerRefresh->setFocus();
        return;
    }
    const QString path = QDir::toNativeSeparators(m_store.storePath());
    // Saving a tab that was never filled would overwrite the user's settings with blanks.
    if (!m_displayLoaded) {
        tellError(QStringLiteral("The display settings were not read from %1, so they are not "
                                 "saved. Close this window and open it again.")
                      .arg(path));
        return;
    }
    QString error;
    if (!saveDisplaySettings(m_store, displaySettingsFromControls(), &error)) {
        tellError(QStringLiteral("The display settings could not be saved to %1: %2\n\nThe "
                                 "window stays open with your changes.")
                      .arg(path, error));
        return;
    }
    Q_EMIT refreshTimerStopRequested();
    Q_EMIT refreshTimerRestartRequested(*interval);
    closeSkippingRefresh();
    Q_EMIT refreshRequested();
}

void ManagerWindow::onDisplayCancelClicked() {
    closeSkippingRefresh();
}

void ManagerWindow::onColourBoxClicked(QLineEdit* box) {
    box->setText(pickColour(box->text(), m_colourChooser, this));
}

void ManagerWindow::closeSkippingRefresh() {
    m_skipRefresh = true;
    close();
}

void ManagerWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_skipRefresh)
        Q_EMIT refreshRequested();
    m_skipRefresh = false;
    Q_EMIT raiseReaderRequested();
}

bool ManagerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (box && box->objectName().endsWith(kColourSuffix))
            onColourBoxClicked(box);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quorvel
