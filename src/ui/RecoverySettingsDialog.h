#pragma once
// Edits the recovery settings: sectors per read, the duplicate rule, the
// deleted-files rule and the bad-sector retries. OK stores, Cancel does not.

#include "recovery/RecoverySettings.h"

#include <QDialog>

#include <array>

class QButtonGroup;
class QComboBox;
class QDialogButtonBox;

namespace tamsin::ui {

class RecoverySettingsDialog : public QDialog {
    Q_OBJECT
public:
    RecoverySettingsDialog(QWidget* parent, const RecoverySettings& settings);

    QComboBox* sectorsList() const { return sectors_; }
    QComboBox* retriesList() const { return retries_; }
    QButtonGroup* duplicateGroup() const { return duplicates_; }
    QButtonGroup* deletedGroup() const { return deleted_; }
    QDialogButtonBox* buttonBox() const { return buttons_; }

    // The values as the controls stand (valid after OK).
    std::uint32_t sectorsPerAttempt() const;
    std::uint16_t retryCount() const;
    std::uint16_t duplicateAction() const;  // 1 Rename, 2 Overwrite, 3 Skip
    std::uint16_t deletedFilesAction() const;  // 1 Include, 2 Recover only deleted, 3 Exclude

private:
    QComboBox* sectors_;
    QComboBox* retries_;
    QButtonGroup* duplicates_;
    QButtonGroup* deleted_;
    QDialogButtonBox* buttons_;
};

} // namespace tamsin::ui
