#include "feedstab.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "manager/feedlistcontroller.h"
#include "manager/managercontrols.h"
#include "manager/opmlexportjob.h"
#include "platform/curlfetcher.h"
#include "store/opml.h"
#include "store/prompter.h"

namespace quorvel {

namespace {

// Other readers save OPML as .opml or .xml.
const QString kOpmlFilter = QStringLiteral("OPML (*.opml *.xml);;All files (*)");

QString openFileDialog(QWidget* parent, const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Import OPML"), folder, filter);
}

QString saveFileDialog(QWidget* parent, const QString& folder, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Export OPML"), folder, filter);
}

} // namespace

FeedsTab::FeedsTab(const FeedStore& store, Prompter& prompter, QWidget* parent)
    : QWidget(parent), m_store(store), m_prompter(prompter), m_openFileChooser(openFileDialog),
      m_saveFileChooser(saveFileDialog),
      m_fetcherFactory([] { return std::make_unique<CurlFetcher>(); }),
      m_storeWaitMs(kStoreWaitMs) {
    setObjectName(QStringLiteral("feedSettings"));

    auto* newFeed = named(new QLineEdit, QStringLiteral("newFeed"));
    newFeed->setMinimumWidth(px(3975));
    m_numArticles = named(new QLineEdit(QStringLiteral("10")), QStringLiteral("numArticles"));
    m_numArticles->setFixedWidth(px(720));
    auto* justHeadings = checkBox(QStringLiteral("justHeadings"), QStringLiteral("Headings"));
    auto* feedDisabled = checkBox(QStringLiteral("feedDisabled"), QStringLiteral("Disabled"));
    auto* entry = new QGridLayout;
    entry->addWidget(caption(QStringLiteral("Add/Edit  Feed"), QStringLiteral("Label2")), 0, 0);
    entry->addWidget(newFeed, 1, 0);
    entry->addWidget(caption(QStringLiteral("Articles"), QStringLiteral("articles")), 0, 1);
    entry->addWidget(m_numArticles, 1, 1);
    entry->addWidget(caption(QStringLiteral("Headings"), QStringLiteral("Label28")), 0, 2);
    entry->addWidget(justHeadings, 1, 2, Qt::AlignHCenter);
    entry->addWidget(caption(QStringLiteral("Disabled"), QStringLiteral("Label40")), 0, 3);
    entry->addWidget(feedDisabled, 1, 3, Qt::AlignHCenter);
    entry->setColumnStretch(0, 1);

    m_feeds = named(new QListWidget, QStringLiteral("Feeds"));
    m_feeds->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Wide enough for an address; low enough that the tab fits a 600-pixel screen.
    m_feeds->setMinimumSize(px(6015), px(2400));
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
    auto* edit = button(QStringLiteral("&Edit"), QStringLiteral("edit"), 975);
    edit->setEnabled(false);
    edit->setToolTip(QStringLiteral("With several feeds selected, sets the article count, "
                                    "Headings and Disabled of all of them"));
    m_edit = edit;
    auto* done = button(QStringLiteral("D&one"), QStringLiteral("done"), 1095);
    auto* checkStatus = named(new QLabel, QStringLiteral("feedCheckStatus"));
    checkStatus->setTextFormat(Qt::PlainText);
    checkStatus->setWordWrap(true);
    checkStatus->hide(); // until an address is checked
    auto* changes = new QHBoxLayout;
    changes->addWidget(add);
    changes->addWidget(remove);
    changes->addWidget(edit);
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

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(entry);
    layout->addSpacing(px(120));
    layout->addWidget(caption(QStringLiteral("Current Feeds"), QStringLiteral("Label1")));
    layout->addLayout(list, 1);
    layout->addWidget(checkStatus);
    layout->addLayout(changes);
    layout->addSpacing(px(240));
    layout->addWidget(line);
    layout->addSpacing(px(120));
    layout->addLayout(opml);

    m_controller = new FeedListController(
        store, prompter,
        {m_feeds, newFeed, m_numArticles, justHeadings, feedDisabled, edit, checkStatus}, this);
    connect(add, &QPushButton::clicked, m_controller, &FeedListController::add);
    connect(newFeed, &QLineEdit::returnPressed, m_controller, &FeedListController::add);
    connect(edit, &QPushButton::clicked, m_controller, &FeedListController::editSelected);
    connect(remove, &QPushButton::clicked, m_controller, &FeedListController::deleteSelected);
    connect(up, &QPushButton::clicked, this, [this] { m_controller->moveCurrent(-1); });
    connect(down, &QPushButton::clicked, this, [this] { m_controller->moveCurrent(+1); });
    connect(done, &QPushButton::clicked, this, &FeedsTab::doneClicked);
    connect(cancel, &QPushButton::clicked, this, &FeedsTab::cancelClicked);
    connect(browse, &QPushButton::clicked, this, &FeedsTab::onBrowseClicked);
    connect(import, &QPushButton::clicked, this, &FeedsTab::onImportClicked);
    connect(exportList, &QPushButton::clicked, this, &FeedsTab::exportOpml);
}

// The export job is a child, so the window's going cancels it; nothing more to do here.
FeedsTab::~FeedsTab() = default;

void FeedsTab::setOpenFileChooser(FileChooser chooser) {
    m_openFileChooser = std::move(chooser);
}

void FeedsTab::setSaveFileChooser(FileChooser chooser) {
    m_saveFileChooser = std::move(chooser);
}

void FeedsTab::setFetcherFactory(FetcherFactory factory) {
    m_controller->setFetcherFactory(factory);
    m_fetcherFactory = std::move(factory);
}

void FeedsTab::showFeedCheck(const QString& url, const FeedCheck& check) {
    m_controller->showFeedCheck(url, check);
}

void FeedsTab::showFeedOutcomes(const FeedOutcomes& outcomes) {
    m_controller->showFeedOutcomes(outcomes);
}

void FeedsTab::setStoreWaitMs(int milliseconds) {
    m_storeWaitMs = milliseconds;
    m_controller->setStoreWaitMs(milliseconds);
}

void FeedsTab::showFeeds(const QStringList& rows) {
    m_controller->showRows(rows);
}

void FeedsTab::onBrowseClicked() {
    const QString path = m_openFileChooser(this, QDir::homePath(), kOpmlFilter);
    if (!path.isEmpty())
        m_loadOpmlText->setText(QDir::toNativeSeparators(path));
}

void FeedsTab::onImportClicked() {
    if (m_loadOpmlText->text().trimmed().isEmpty()) {
        tell(kProgramTitle, QStringLiteral("Please select a source"), MessageIcon::None);
        return;
    }
    importOpml(m_loadOpmlText->text().trimmed());
}

void FeedsTab::importOpml(const QString& path) {
    const OpmlImportResult result = quorvel::importOpml(m_store, path, m_storeWaitMs);
    if (!result.ok) {
        tell(QStringLiteral("Error"),
             opmlImportFailureText(result) + QStringLiteral("\n\n") + result.error,
             MessageIcon::Exclamation);
        return;
    }
    m_controller->appendRows(result.rows);
    tell(kProgramTitle, opmlImportSummary(result) + QLatin1Char('.'), MessageIcon::Information);
    Q_EMIT imported();
}

void FeedsTab::exportOpml() {
    if (m_exportJob)
        return;
    QString target = m_saveFileChooser(this, QDir::homePath(), kOpmlFilter);
    if (target.isEmpty())
        return;
    if (QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".opml");
    m_exportJob = new OpmlExportJob(m_store, m_fetcherFactory(), target, this);
    m_exportProgress = new QProgressDialog(QStringLiteral("Looking up the feeds' titles..."),
                                           QStringLiteral("Cancel"), 0, 0, this);
    m_exportProgress->setObjectName(QStringLiteral("exportProgress"));
    m_exportProgress->setWindowTitle(QStringLiteral("Export OPML"));
    m_exportProgress->setWindowModality(Qt::WindowModal);
    m_exportProgress->setMinimumDuration(0);
    m_exportProgress->setAutoClose(false);
    m_exportProgress->setAutoReset(false);
    connect(m_exportProgress, &QProgressDialog::canceled, m_exportJob, &OpmlExportJob::cancel);
    connect(m_exportJob, &OpmlExportJob::progressed, m_exportProgress,
            [progress = m_exportProgress](int done, int total) {
                progress->setMaximum(total);
                progress->setValue(done);
            });
    connect(m_exportJob, &OpmlExportJob::finished, this, &FeedsTab::onExportFinished);
    m_exportProgress->show();
    m_exportJob->start();
}

void FeedsTab::onExportFinished(bool written, bool cancelled, const QString& error, int feeds) {
    const QString target = QDir::toNativeSeparators(m_exportJob->target());
    m_exportJob->deleteLater();
    m_exportJob = nullptr;
    if (m_exportProgress)
        m_exportProgress->deleteLater();
    if (cancelled)
        return;
    if (!written)
        tell(QStringLiteral("Error"),
             QStringLiteral("The feeds could not be exported to %1.\n\n%2").arg(target, error),
             MessageIcon::Exclamation);
    else
        tell(kProgramTitle, QStringLiteral("Exported %1 feeds to %2.").arg(feeds).arg(target),
             MessageIcon::Information);
}

void FeedsTab::tell(const QString& title, const QString& text, MessageIcon icon) {
    m_prompter.prompt(Message{title, text, MessageButtons::Ok, icon});
}

} // namespace quorvel
