// The files that the cabinet decompressor holds open during one extraction, and the memory and
// file callbacks through which it reaches them. The value handed to the decompressor as a file
// handle is the address of a CabFile; -1 means failure.
#pragma once
#include <windows.h>

#include <fdi.h>

#include "delivery/job.h"
#include "delivery/sha256.h"

// One open file: the package (read, entry -1) or a member's output file (written and hashed).
// Zero-filled on the process heap; linked into its job's openFiles list, newest first.
struct CabFile {
    HANDLE handle;
    DeliveryJob* job;
    Sha256State digest;  // idle for the package
    ULONGLONG written;   // bytes written to the member's file so far
    LONG entry;          // manifest index the member fills; -1 for the package
    CabFile* next;
};

// The name under which the decompressor opens the package; every other name is refused.
constexpr char PackageCabinetName[] = "application.cab";

// The record behind a decompressor file handle, or null for 0 and -1.
CabFile* CabFileOf(INT_PTR file);

// Pushes a record at the head of its job's openFiles list.
void LinkOpenFile(CabFile* record);

// The decompressor's callbacks (cdecl, as the FDI header declares them).
void* DIAMONDAPI CabAlloc(ULONG size);
void DIAMONDAPI CabFree(void* block);
INT_PTR DIAMONDAPI CabOpen(char* name, int flags, int mode);
UINT DIAMONDAPI CabRead(INT_PTR file, void* buffer, UINT count);
UINT DIAMONDAPI CabWrite(INT_PTR file, void* buffer, UINT count);
int DIAMONDAPI CabClose(INT_PTR file);
LONG DIAMONDAPI CabSeek(INT_PTR file, LONG distance, int origin);
INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);
