#include "placement/profile_section.h"

namespace {

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// key equals the units [begin, end) of a line, ignoring the case of ASCII letters (the keys
// looked up are ASCII).
bool SameKey(const wchar_t* key, const wchar_t* begin, const wchar_t* end)
{
    for (; begin < end; ++begin, ++key) {
        if (*key == 0 || Lower(*key) != Lower(*begin)) return false;
    }
    return *key == 0;
}

}  // namespace

void ProfileSection::Read(const wchar_t* path, const wchar_t* section)
{
    path_ = path;
    section_ = section;
    DWORD read = GetPrivateProfileSectionW(section, lines_, Capacity, path);
    // A section cut short comes back as Capacity - 2 units.
    whole_ = read < Capacity - 2;
    if (!whole_) lines_[0] = 0;
}

DWORD ProfileSection::Get(const wchar_t* key, wchar_t* buffer, DWORD capacity) const
{
    if (capacity == 0) return 0;
    if (!whole_) return GetPrivateProfileStringW(section_, key, L"", buffer, capacity, path_);
    for (const wchar_t* line = lines_; *line != 0;) {
        const wchar_t* end = line;
        while (*end != 0) ++end;
        const wchar_t* equals = line;
        while (equals < end && *equals != L'=') ++equals;
        const wchar_t* keyBegin = line;
        const wchar_t* keyEnd = equals;
        while (keyBegin < keyEnd && Blank(*keyBegin)) ++keyBegin;
        while (keyEnd > keyBegin && Blank(keyEnd[-1])) --keyEnd;
        if (equals < end && SameKey(key, keyBegin, keyEnd)) {
            const wchar_t* value = equals + 1;
            const wchar_t* valueEnd = end;
            while (value < valueEnd && Blank(*value)) ++value;
            while (valueEnd > value && Blank(valueEnd[-1])) --valueEnd;
            // A value in matching quotes is given without them.
            if (valueEnd - value >= 2 && (*value == L'"' || *value == L'\'') && valueEnd[-1] == *value) {
                ++value;
                --valueEnd;
            }
            DWORD length = static_cast<DWORD>(valueEnd - value);
            if (length > capacity - 1) length = capacity - 1;
            for (DWORD i = 0; i < length; ++i) buffer[i] = value[i];
            buffer[length] = 0;
            return length;
        }
        line = end + 1;
    }
    buffer[0] = 0;
    return 0;
}
