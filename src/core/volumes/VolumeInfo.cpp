#include "volumes/VolumeInfo.h"

#include "volumes/VolumeLayout.h"

namespace tamsin {

bool VolumeTable::append(VolumeInfo record)
{
    if (full())
        return false;
    records_.push_back(std::move(record));
    return true;
}

bool VolumeInfo::complete() const
{
    return !layout || layout->complete();
}

std::uint64_t volumeEndSector(const VolumeInfo& volume)
{
    return volume.startSector + volume.sizeSectors;
}

std::vector<VolumePropertyRow> volumeProperties(const VolumeInfo& volume)
{
    return {
        {VolumeProperty::Type, "Novell Traditional Volume"},
        {VolumeProperty::Start, std::to_string(volume.startSector)},
        {VolumeProperty::End, std::to_string(volumeEndSector(volume))},
        {VolumeProperty::Size, std::to_string(volume.sizeSectors / 2048) + " MB ( Aprox )"},
    };
}

} // namespace tamsin
