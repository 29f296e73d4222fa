#include "ui/FindFilesDialog.h"

#include "ui/UiTexts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tamsin::ui {
namespace {

constexpr int kColumnWidths[] = {150, 250, 95};

} // namespace

FindFilesDialog::FindFilesDialog(QWidget* parent) :
    QDialog(parent), pattern_(new QLineEdit(this)), results_(new QTableView(this)), lastFile_(new QLabel(this)),
    filesFound_(new QLabel(this)), start_(new QPushButton(QString::fromUtf8(text::kStartSearch), this)),
    stop_(new QPushButton(QString::fromUtf8(text::kStopSearch), this)),
    cancel_(new QPushButton(QString::fromUtf8(text::kCancel), this)),
    recover_(new QPushButton(QString::fromUtf8(text::kRecoverFoundFiles), this))
{
    setObjectName(QStringLiteral("findFilesDialog"));
    setWindowTitle(QString::fromUtf8(text::kFindCaption));

    pattern_->setObjectName(QStringLiteral("pattern"));
    results_->setObjectName(QStringLiteral("results"));
    results_->setShowGrid(true);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setWordWrap(false);
    results_->setIconSize(QSize(16, 16));
    results_->verticalHeader()->hide();
    results_->verticalHeader()->setDefaultSectionSize(results_->fontMetrics().height() + 6);
    results_->horizontalHeader()->setHighlightSections(false);
    // A header click sorts the results; a third click brings the found order back.
    results_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    results_->horizontalHeader()->setSortIndicatorClearable(true);
    results_->setSortingEnabled(true);
    results_->setMinimumSize(kColumnWidths[0] + kColumnWidths[1] + kColumnWidths[2] + 24, 220);
    lastFile_->setObjectName(QStringLiteral("lastFile"));
    filesFound_->setObjectName(QStringLiteral("filesFound"));
    for (QLabel* value : {lastFile_, filesFound_}) {
        value->setTextFormat(Qt::PlainText);
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    start_->setObjectName(QStringLiteral("startSearch"));
    stop_->setObjectName(QStringLiteral("stopSearch"));
    cancel_->setObjectName(QStringLiteral("cancel"));
    start_->setDefault(true);
    stop_->setAutoDefault(false);
    stop_->setEnabled(false);
    cancel_->setAutoDefault(false);
    cancel_->hide();
    recover_->setObjectName(QStringLiteral("recoverFound"));
    recover_->setAutoDefault(false);
    recover_->setEnabled(false);
    connect(recover_, &QPushButton::clicked, this, &FindFilesDialog::recoverRequested);
    connect(results_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit showRequested(index.row());
    });
    // Enter on a result shows it rather than pressing the default button.
    results_->installEventFilter(this);
    connect(start_, &QPushButton::clicked, this, [this] {
        if (!searching_)
            emit startRequested(pattern_->text());
    });
    connect(stop_, &QPushButton::clicked, this, [this] {
        stop_->setEnabled(false);
        emit stopRequested();
    });
    connect(cancel_, &QPushButton::clicked, this, &FindFilesDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Enter string to search"), this));
    top->addWidget(pattern_, 1);
    auto* found = new QGridLayout;
    found->setColumnStretch(1, 1);
    found->addWidget(new QLabel(QStringLiteral("Last File"), this), 0, 0);
    found->addWidget(lastFile_, 0, 1);
    found->addWidget(new QLabel(QStringLiteral("Files Found"), this), 1, 0);
    found->addWidget(filesFound_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(recover_);
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(results_, 1);
    layout->addLayout(found);
    layout->addLayout(buttons);
    pattern_->setFocus();
}

void FindFilesDialog::setResultsModel(QAbstractItemModel* model)
{
    results_->setModel(model);
    connect(model, &QAbstractItemModel::rowsInserted, this, &FindFilesDialog::updateRecover);
    connect(model, &QAbstractItemModel::modelReset, this, &FindFilesDialog::updateRecover);
    for (int column = 0; column < 3; ++column)
        results_->setColumnWidth(column, kColumnWidths[column]);
}

void FindFilesDialog::searchStarted()
{
    searching_ = true;
    start_->setEnabled(false);
    stop_->setEnabled(true);
    updateRecover();
    lastFile_->clear();
    filesFound_->setText(QStringLiteral("0"));
}

void FindFilesDialog::showFound(const QString& lastName, std::uint32_t count)
{
    lastFile_->setText(lastName);
    filesFound_->setText(QString::number(count));
}

void FindFilesDialog::searchEnded()
{
    searching_ = false;
    stop_->setEnabled(false);
    start_->setEnabled(true);
    updateRecover();
}

void FindFilesDialog::updateRecover()
{
    recover_->setEnabled(!searching_ && results_->model() && results_->model()->rowCount() > 0);
}

bool FindFilesDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == results_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QModelIndex current = results_->currentIndex();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && current.isValid()) {
            emit showRequested(current.row());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FindFilesDialog::searchResumed()
{
    if (searching_)
        stop_->setEnabled(true);
}

void FindFilesDialog::reject()
{
    if (!searching_)
        QDialog::reject();
}

} // namespace tamsin::ui
