// One section of a manifest read with a single call, its keys then looked up in memory. A
// manifest's entry has four keys, and under the profile API every key read opens the file again:
// a part of 256 entries took a thousand reads. Values come out as GetPrivateProfileStringW gives
// them (the delivery reads the same manifest that way, and both must see the same names).
#pragma once
#include <windows.h>

class ProfileSection {
public:
    ProfileSection() = default;
    ProfileSection(const ProfileSection&) = delete;
    ProfileSection& operator=(const ProfileSection&) = delete;

    // Reads section of the file at path; a section too large for the buffer is read key by key.
    void Read(const wchar_t* path, const wchar_t* section);
    // The value of key (its first occurrence, compared without case), cut to capacity - 1 units;
    // the units copied, as GetPrivateProfileStringW counts them. "" for a missing key.
    DWORD Get(const wchar_t* key, wchar_t* buffer, DWORD capacity) const;

    static constexpr DWORD Capacity = 4096;

private:
    const wchar_t* path_ = nullptr;
    const wchar_t* section_ = nullptr;
    bool whole_ = false;  // lines_ holds the whole section
    wchar_t lines_[Capacity];
};
