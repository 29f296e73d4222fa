#include "ui/RecoveryProgressDialog.h"

#include "ui/UiTexts.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {
namespace {

// Shows its whole text when it fits, else elided in the middle so that both
// ends of a path stay readable; text() keeps the whole text.
class MiddleElidedLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

QLabel* valueLabel(QWidget* parent, const QString& name)
{
    QLabel* label = new MiddleElidedLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    // A long path is elided instead of widening the dialog.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 60);
    return label;
}

} // namespace

RecoveryProgressDialog::RecoveryProgressDialog(QWidget* parent, RecoveryRunState& run) :
    QDialog(parent), run_(run), path_(valueLabel(this, QStringLiteral("path"))),
    name_(valueLabel(this, QStringLiteral("fileName"))), total_(valueLabel(this, QStringLiteral("totalFiles"))),
    progress_(new QProgressBar(this)), overall_(valueLabel(this, QStringLiteral("overall"))),
    overallBar_(new QProgressBar(this)), stop_(new QPushButton(QString::fromUtf8(text::kStopSaving), this)),
    skip_(new QPushButton(QString::fromUtf8(text::kSkipFile), this)),
    cancel_(new QPushButton(QString::fromUtf8(text::kCancel), this))
{
    setObjectName(QStringLiteral("recoveryProgressDialog"));
    setWindowTitle(QString::fromUtf8(text::kSavingCaption));

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    const std::pair<const char*, QLabel*> rows[] = {{"Path", path_}, {"File Name", name_}, {"Total Files", total_}};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(QString::fromUtf8(rows[i].first), this), i, 0);
        grid->addWidget(rows[i].second, i, 1);
    }
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    overallBar_->setObjectName(QStringLiteral("overallProgress"));
    overallBar_->setRange(0, 100);
    overallBar_->setValue(0);
    overall_->hide();
    overallBar_->hide();

    stop_->setObjectName(QStringLiteral("stopSaving"));
    skip_->setObjectName(QStringLiteral("skipFile"));
    cancel_->setObjectName(QStringLiteral("cancel"));
    stop_->setDefault(true);
    skip_->setAutoDefault(false);
    cancel_->setAutoDefault(false);
    cancel_->hide();
    connect(stop_, &QPushButton::clicked, this, [this] { run_.recoveryAborted = true; });
    connect(skip_, &QPushButton::clicked, this, [this] { run_.skipCurrentFile = true; });
    connect(cancel_, &QPushButton::clicked, this, &RecoveryProgressDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(stop_);
    buttons->addWidget(skip_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(progress_);
    layout->addSpacing(6);
    layout->addWidget(overall_);
    layout->addWidget(overallBar_);
    layout->addLayout(buttons);
}

void RecoveryProgressDialog::showFile(const QString& path, const QString& name, std::uint32_t filesStarted)
{
    path_->setText(path);
    path_->setToolTip(path);
    name_->setText(name);
    total_->setText(QString::number(filesStarted));
    progress_->setValue(0);
}

void RecoveryProgressDialog::showProgress(int percent)
{
    progress_->setValue(percent);
}

void RecoveryProgressDialog::showOverall(const QString& text, int percent)
{
    overall_->setText(text);
    overallBar_->setValue(percent);
    overall_->show();
    overallBar_->show();
}

void RecoveryProgressDialog::finish()
{
    finished_ = true;
    QDialog::accept();
}

void RecoveryProgressDialog::reject()
{
    if (finished_)
        QDialog::reject();
}

} // namespace tamsin::ui
