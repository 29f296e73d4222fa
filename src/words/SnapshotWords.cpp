#include "SnapshotWords.h"

#include <cstring>

namespace tamsin::words {
namespace {

std::string damageText(SnapshotDamage damage, SnapshotNodeList list)
{
    const std::string what = list == SnapshotNodeList::Folders ? "folder" : "file";
    switch (damage) {
    case SnapshotDamage::None:
    case SnapshotDamage::ShortStart:
        break;
    case SnapshotDamage::ShortHeader:
        return "the header is cut short";
    case SnapshotDamage::ImpossibleBlockSize:
        return "the volume's block size is impossible";
    case SnapshotDamage::MissingCount:
        return "the " + what + " count is missing";
    case SnapshotDamage::TooManyNodes:
        return "more " + what + "s than the file can hold";
    case SnapshotDamage::ShortRecord:
        return "a " + what + " record is cut short";
    case SnapshotDamage::ImpossibleRecordLength:
        return "a " + what + " record has an impossible length";
    case SnapshotDamage::BadRecordName:
        return "a " + what + " record has an empty name or one holding a NUL byte";
    case SnapshotDamage::ShortSuballocationRoots:
        return "the suballocation roots are cut short";
    case SnapshotDamage::ShortFatList:
        return "the FAT block list is cut short";
    case SnapshotDamage::BytesAfterFatList:
        return "unexpected bytes after the FAT block list";
    }
    return {};
}

} // namespace

std::string snapshotMessage(const SnapshotResult& result)
{
    switch (result.status) {
    case SnapshotStatus::Ok:
        break;
    case SnapshotStatus::CannotOpen:
        return "Unable to open the file";
    case SnapshotStatus::WrongMagic:
        return "Invalid version of the file found : " + result.foundMagic;
    case SnapshotStatus::WrongVersion:
        return "version of file does not match with current version 1.0";
    case SnapshotStatus::Damaged:
        return "The snapshot file is damaged (" + damageText(result.damage, result.damagedList) + "): " + result.path;
    case SnapshotStatus::WriteFailed:
        return "Unable to write the snapshot " + result.path + ": " + std::strerror(result.error);
    case SnapshotStatus::OtherDisk:
        return snapshotOtherDiskQuestion(result.diskMatch);
    }
    return {};
}

std::string snapshotOtherDiskQuestion(SnapshotDiskMatch match)
{
    if (match == SnapshotDiskMatch::NoneReadable)
        return "This snapshot may have been saved from another disk or volume: none of its entries could be read on "
               "this disk, so files recovered through it may hold the wrong data. Load it anyway?";
    return "This snapshot was saved from another disk or volume: its entries name other files, so files recovered "
           "through it would hold the wrong data. Load it anyway?";
}

} // namespace tamsin::words
