#include "delivery/volume_identity.h"

#include "delivery/handles.h"

namespace {

constexpr DWORD GuidPathCapacity = 50;  // "\\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\" and the terminator

struct VolumeIdentity {
    wchar_t guidPath[GuidPathCapacity];
    int hasGuidPath;
    DWORD serial;
    int hasSerial;
};

// The serial number is read from a handle on the root: for a folder that a volume is mounted
// in, that is the mounted volume's root, and a substituted drive reaches its real volume.
void ReadVolumeIdentity(const wchar_t* volume, VolumeIdentity* out)
{
    out->hasGuidPath = GetVolumeNameForVolumeMountPointW(volume, out->guidPath, GuidPathCapacity) ? 1 : 0;
    out->hasSerial = 0;
    UniqueFile root(CreateFileW(volume, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (root && GetFileInformationByHandle(root.Get(), &info)) {
        out->serial = info.dwVolumeSerialNumber;
        out->hasSerial = 1;
    }
}

}  // namespace

bool SameVolume(const wchar_t* volumeA, const wchar_t* volumeB)
{
    // Volume paths differ at most in letter case ("c:\" and "C:\"); an ordinal comparison does
    // not let locale rules call two distinct paths equal.
    if (CompareStringOrdinal(volumeA, -1, volumeB, -1, TRUE) == CSTR_EQUAL) return true;
    VolumeIdentity a;
    VolumeIdentity b;
    ReadVolumeIdentity(volumeA, &a);
    ReadVolumeIdentity(volumeB, &b);
    if (a.hasGuidPath && b.hasGuidPath &&
        CompareStringOrdinal(a.guidPath, -1, b.guidPath, -1, TRUE) == CSTR_EQUAL) {
        return true;
    }
    return a.hasSerial && b.hasSerial && a.serial == b.serial;
}
