#include "ui/RecoverySettingsDialog.h"

#include "ui/UiTexts.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tamsin::ui {
namespace {

constexpr const char* kCaption = "Recovery Settings";

// A list of the numbers 1 .. last; item i shows i + 1.
QComboBox* numberList(QWidget* parent, int last, std::uint32_t selected)
{
    auto* list = new QComboBox(parent);
    for (int n = 1; n <= last; ++n)
        list->addItem(QString::number(n));
    list->setCurrentIndex(static_cast<int>(selected) - 1);
    return list;
}

QGroupBox* radioGroup(QWidget* parent, const char* title, const std::array<const char*, 3>& labels,
                      QButtonGroup* group, std::uint16_t checked)
{
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    auto* layout = new QVBoxLayout(box);
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(QString::fromUtf8(labels[static_cast<std::size_t>(i)]), box);
        group->addButton(button, i + 1);
        button->setChecked(checked == i + 1);
        layout->addWidget(button);
    }
    return box;
}

QGroupBox* listGroup(QWidget* parent, const char* title, const char* label, QComboBox* list)
{
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    auto* layout = new QHBoxLayout(box);
    layout->addWidget(new QLabel(QString::fromUtf8(label), box));
    layout->addWidget(list);
    return box;
}

} // namespace

RecoverySettingsDialog::RecoverySettingsDialog(QWidget* parent, const RecoverySettings& settings) :
    QDialog(parent), sectors_(numberList(this, 100, settings.sectorsPerAttempt())),
    retries_(numberList(this, 10, settings.retryCount())), duplicates_(new QButtonGroup(this)),
    deleted_(new QButtonGroup(this)), buttons_(new QDialogButtonBox(this))
{
    setObjectName(QStringLiteral("recoverySettingsDialog"));
    setWindowTitle(QString::fromUtf8(kCaption));
    sectors_->setObjectName(QStringLiteral("sectorsPerAttempt"));
    retries_->setObjectName(QStringLiteral("retryCount"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listGroup(this, "Sectors to read in single attempt", "Sectors to read in single attempt", sectors_));
    layout->addWidget(radioGroup(this, "Setting of duplicate file(s)",
                                 {"Rename duplicate file(s)", "Overwrite duplicate file(s)", "Skip duplicate file(s)"},
                                 duplicates_, static_cast<std::uint16_t>(settings.duplicateAction())));
    layout->addWidget(radioGroup(this, "Setting for deleted file(s)",
                                 {"Include deleted file(s)", "Recover only deleted file(s)", "Exclude deleted file(s)"},
                                 deleted_, static_cast<std::uint16_t>(settings.deletedFilesAction())));
    layout->addWidget(listGroup(this, "Setting for bad sectors", "Number of retries on bad sector(s)", retries_));

    buttons_->addButton(QString::fromUtf8(text::kOk), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons_->addButton(QString::fromUtf8(text::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::uint32_t RecoverySettingsDialog::sectorsPerAttempt() const
{
    return static_cast<std::uint32_t>(sectors_->currentIndex() + 1);
}

std::uint16_t RecoverySettingsDialog::retryCount() const
{
    return static_cast<std::uint16_t>(retries_->currentIndex() + 1);
}

std::uint16_t RecoverySettingsDialog::duplicateAction() const
{
    return static_cast<std::uint16_t>(std::max(duplicates_->checkedId(), 0));
}

std::uint16_t RecoverySettingsDialog::deletedFilesAction() const
{
    return static_cast<std::uint16_t>(std::max(deleted_->checkedId(), 0));
}

} // namespace tamsin::ui
