// Growable arrays on the process heap for records without constructors (a DLL without a C
// runtime has no operator new). A zero-filled HeapArray is empty, so arrays can live inside
// a zero-filled job block; Free releases the storage and leaves the array empty again.
#pragma once
#include <windows.h>

template <typename T>
struct HeapArray {
    T* data;
    DWORD count;
    DWORD capacity;

    T& operator[](DWORD i) { return data[i]; }
    const T& operator[](DWORD i) const { return data[i]; }

    // Room for at least wanted elements; new room is zero-filled. 0 when memory ran out.
    int Reserve(DWORD wanted)
    {
        if (wanted <= capacity) return 1;
        DWORD grown = capacity < 16 ? 16 : capacity;
        while (grown < wanted) {
            if (grown > 0x7FFFFFFF / 2) return 0;
            grown *= 2;
        }
        if (static_cast<ULONGLONG>(grown) * sizeof(T) > 0x7FFFFFFF) return 0;
        SIZE_T bytes = static_cast<SIZE_T>(grown) * sizeof(T);
        void* block = data == nullptr ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes)
                                      : HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, data, bytes);
        if (block == nullptr) return 0;
        data = static_cast<T*>(block);
        capacity = grown;
        return 1;
    }

    // Appends n zero-filled elements and returns the first; null when memory ran out.
    T* Append(DWORD n = 1)
    {
        if (count > 0x7FFFFFFF - n || !Reserve(count + n)) return nullptr;
        T* first = data + count;
        for (DWORD i = 0; i < n; ++i) {
            BYTE* bytes = reinterpret_cast<BYTE*>(first + i);
            for (SIZE_T k = 0; k < sizeof(T); ++k) bytes[k] = 0;
        }
        count += n;
        return first;
    }

    int Push(const T& value)
    {
        T* slot = Append();
        if (slot == nullptr) return 0;
        *slot = value;
        return 1;
    }

    void Free()
    {
        if (data != nullptr) HeapFree(GetProcessHeap(), 0, data);
        data = nullptr;
        count = 0;
        capacity = 0;
    }
};

// Zero-terminated strings packed one after another; a string is known by its offset.
struct StringPool {
    HeapArray<wchar_t> units;

    // Adds length units of text and a terminator; returns the offset, or MAXDWORD when memory
    // ran out.
    DWORD Add(const wchar_t* text, DWORD length)
    {
        DWORD offset = units.count;
        wchar_t* room = units.Append(length + 1);
        if (room == nullptr) return MAXDWORD;
        for (DWORD i = 0; i < length; ++i) room[i] = text[i];
        room[length] = 0;
        return offset;
    }
    const wchar_t* At(DWORD offset) const { return units.data + offset; }
    void Free() { units.Free(); }
};
