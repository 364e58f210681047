// The install record, installDir\qel-install.ini: what an install put into the folder. UTF-16LE
// with a byte-order mark, so an NSIS script reads it with ReadINIStr:
//
//   [Install]
//   Version=2.0
//   Count=2
//
//   [0]
//   Name=bin\app.exe
//   Size=300000
//   Sha256=<64 lowercase hex digits>
//   Time=133526304000000000
//
// Time is the file's last-write time as placed (100-ns units since 1601). A file whose size and
// time are those recorded is taken as unchanged; otherwise its SHA-256 decides.
#pragma once
#include <windows.h>

#include "placement/heap_array.h"

constexpr wchar_t RecordFileName[] = L"qel-install.ini";
constexpr DWORD RecordLimit = 64 << 20;
constexpr DWORD MaxRecordEntries = 65536;

struct RecordEntry {
    DWORD name;    // offset in InstallRecord::names ('\' separators)
    DWORD folded;  // offset in InstallRecord::folded
    DWORD nameLength;
    ULONGLONG size;
    BYTE sha256[32];
    LONGLONG written;
};

struct InstallRecord {
    wchar_t version[128];
    HeapArray<RecordEntry> entries;
    StringPool names;
    StringPool folded;
    void Free()
    {
        entries.Free();
        names.Free();
        folded.Free();
    }
};

// Parses a record file's bytes. 0 when they are not a record this engine wrote: no byte-order
// mark, a missing or broken key, a Name that is not a plain relative path (a record changed by
// hand must not make an uninstall reach outside the folder), a Name twice.
int ParseRecord(const BYTE* bytes, DWORD count, InstallRecord* out);

// Appends the record's text: the header first, then one entry at a time.
int RecordBegin(HeapArray<wchar_t>* text, const wchar_t* version, DWORD count);
int RecordAppend(HeapArray<wchar_t>* text, DWORD index, const wchar_t* name, DWORD nameLength, ULONGLONG size,
                 const BYTE* sha256, LONGLONG written);
