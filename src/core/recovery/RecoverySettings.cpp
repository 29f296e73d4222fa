#include "recovery/RecoverySettings.h"

namespace tamsin {

RecoverySettings::RecoverySettings(std::uint32_t defaultSectorsPerAttempt) :
    sectorsPerAttempt_(defaultSectorsPerAttempt >= kMinSectorsPerAttempt && defaultSectorsPerAttempt <= kMaxSectorsPerAttempt
                           ? defaultSectorsPerAttempt
                           : 60)
{
}

bool RecoverySettings::setSectorsPerAttempt(std::uint32_t value)
{
    if (value < kMinSectorsPerAttempt || value > kMaxSectorsPerAttempt)
        return false;
    sectorsPerAttempt_ = value;
    return true;
}

bool RecoverySettings::setDuplicateAction(std::uint16_t value)
{
    if (value < 1 || value > 3)
        return false;
    duplicateAction_ = static_cast<DuplicateAction>(value);
    return true;
}

bool RecoverySettings::setDeletedFilesAction(std::uint16_t value)
{
    if (value < 1 || value > 3)
        return false;
    deletedFilesAction_ = static_cast<DeletedFilesAction>(value);
    return true;
}

bool RecoverySettings::setRetryCount(std::uint16_t value)
{
    if (value < kMinRetryCount || value > kMaxRetryCount)
        return false;
    retryCount_ = value;
    return true;
}

bool RunRules::takesFile(std::uint32_t deletedMarker) const
{
    switch (deletedFiles) {
    case DeletedFilesAction::Include:
        return true;
    case DeletedFilesAction::OnlyDeleted:
        return deletedMarker != 0;
    case DeletedFilesAction::Exclude:
        return deletedMarker == 0;
    }
    return true;
}

} // namespace tamsin
