#pragma once
// The user's recovery choices: run length of the volume search, duplicate
// rule, deleted-files rule and bad-sector retries. Defaults at every start.

#include <atomic>
#include <cstdint>

namespace tamsin {

enum class DuplicateAction : std::uint16_t { Rename = 1, Overwrite = 2, Skip = 3 };
enum class DeletedFilesAction : std::uint16_t { Include = 1, OnlyDeleted = 2, Exclude = 3 };

// The rules one recovery run keeps from its start to its end, whatever the
// settings become meanwhile.
struct RunRules {
    DuplicateAction duplicates = DuplicateAction::Rename;
    DeletedFilesAction deletedFiles = DeletedFilesAction::Include;

    // Whether a file with this deleted marker is taken by the run.
    bool takesFile(std::uint32_t deletedMarker) const;
};

class RecoverySettings {
public:
    static constexpr std::uint32_t kMinSectorsPerAttempt = 1;
    static constexpr std::uint32_t kMaxSectorsPerAttempt = 100;
    static constexpr std::uint16_t kMinRetryCount = 1;
    static constexpr std::uint16_t kMaxRetryCount = 10;
    static constexpr std::uint16_t kDefaultRetryCount = 3;

    // sectorsPerAttempt starts at the access mode's default (60 or 8).
    explicit RecoverySettings(std::uint32_t defaultSectorsPerAttempt = 60);

    std::uint32_t sectorsPerAttempt() const { return sectorsPerAttempt_.load(); }
    DuplicateAction duplicateAction() const { return duplicateAction_.load(); }
    DeletedFilesAction deletedFilesAction() const { return deletedFilesAction_.load(); }
    std::uint16_t retryCount() const { return retryCount_.load(); }

    // Each setter refuses (returns false, stores nothing) a value outside its range.
    bool setSectorsPerAttempt(std::uint32_t value);
    bool setDuplicateAction(std::uint16_t value);
    bool setDeletedFilesAction(std::uint16_t value);
    bool setRetryCount(std::uint16_t value);

    // The duplicate and deleted-files rules as they stand now.
    RunRules rules() const { return {duplicateAction(), deletedFilesAction()}; }
    // Whether a file with this deleted marker is taken by a recovery run.
    bool takesFile(std::uint32_t deletedMarker) const { return rules().takesFile(deletedMarker); }

private:
    std::atomic<std::uint32_t> sectorsPerAttempt_;
    std::atomic<DuplicateAction> duplicateAction_{DuplicateAction::Rename};
    std::atomic<DeletedFilesAction> deletedFilesAction_{DeletedFilesAction::Include};
    std::atomic<std::uint16_t> retryCount_{kDefaultRetryCount};
};

} // namespace tamsin
