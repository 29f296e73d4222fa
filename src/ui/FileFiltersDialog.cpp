#include "ui/FileFiltersDialog.h"

#include "ui/MessageDialog.h"
#include "ui/UiTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamsin::ui {
namespace {

constexpr int kMaxTyped = 300;

} // namespace

const char* filterNotice(FilterAddResult result)
{
    switch (result) {
    case FilterAddResult::TooMany:
        return text::kTooManyFilters;
    case FilterAddResult::TooLong:
        return text::kFilterTooLong;
    case FilterAddResult::Blank:
        return text::kBlankFilter;
    case FilterAddResult::Duplicate:
        return text::kFilterExists;
    case FilterAddResult::Added:
        break;
    }
    return nullptr;
}

FileFiltersDialog::FileFiltersDialog(QWidget* parent, FileFilters& table, ToRaw toRaw, ToDisplay toDisplay) :
    QDialog(parent), table_(table), working_(table), toRaw_(std::move(toRaw)), toDisplay_(std::move(toDisplay)),
    edit_(new QLineEdit(this)), list_(new QListWidget(this)),
    add_(new QPushButton(QString::fromUtf8(text::kAdd), this)),
    remove_(new QPushButton(QString::fromUtf8(text::kRemove), this)),
    close_(new QPushButton(QString::fromUtf8(text::kClose), this))
{
    setObjectName(QStringLiteral("fileFiltersDialog"));
    setWindowTitle(QString::fromUtf8(text::kFiltersCaption));

    edit_->setObjectName(QStringLiteral("filterEdit"));
    edit_->setMaxLength(kMaxTyped);
    list_->setObjectName(QStringLiteral("filterList"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const std::string& filter : working_.list())
        list_->addItem(toDisplay_(filter));

    add_->setObjectName(QStringLiteral("add"));
    remove_->setObjectName(QStringLiteral("remove"));
    close_->setObjectName(QStringLiteral("close"));
    add_->setDefault(true);
    remove_->setAutoDefault(false);
    close_->setAutoDefault(false);
    connect(add_, &QPushButton::clicked, this, &FileFiltersDialog::addFilter);
    connect(remove_, &QPushButton::clicked, this, &FileFiltersDialog::removeFilter);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    auto* entry = new QHBoxLayout;
    entry->addWidget(new QLabel(QStringLiteral("Enter Filter"), this));
    entry->addWidget(edit_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(entry);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    edit_->setFocus();
}

void FileFiltersDialog::addFilter()
{
    // A full table refuses before the text is looked at.
    const FilterAddResult result = working_.count() >= FileFilters::kMaxFilters
        ? FilterAddResult::TooMany
        : working_.add(toRaw_(edit_->text()));
    if (result == FilterAddResult::Added) {
        list_->insertItem(0, toDisplay_(working_.at(0)));
        edit_->clear();
        edit_->setFocus();
        return;
    }
    MessageDialog::show(this, filterNotice(result), MessageKind::Information);
    switch (result) {
    case FilterAddResult::TooLong:
        edit_->setSelection(0, static_cast<int>(FileFilters::kMaxLength));
        edit_->setFocus();
        break;
    case FilterAddResult::Duplicate:
        edit_->setFocus();
        edit_->selectAll();
        break;
    case FilterAddResult::Blank:
        edit_->setFocus();
        break;
    default:
        break;
    }
}

void FileFiltersDialog::removeFilter()
{
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = list_->row(selected.constFirst());
    if (working_.remove(static_cast<std::size_t>(row)))
        delete list_->takeItem(row);
}

void FileFiltersDialog::done(int result)
{
    table_ = working_;
    QDialog::done(result);
}

} // namespace tamsin::ui
