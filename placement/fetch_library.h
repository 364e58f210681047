// qelfetch.dll as a release job uses it: loaded from the folder of this DLL (never searched
// for), its four exports looked up by name, and let go after the last delivery's close.
#pragma once
#include <windows.h>

struct FetchJob;  // qelfetch's DeliveryJob

struct FetchLibrary {
    HMODULE module;
    FetchJob*(WINAPI* start)(const wchar_t* manifest, const wchar_t* package, const wchar_t* workDir);
    int(WINAPI* poll)(FetchJob* job, int* phase, int* percent, wchar_t* text, int capacity);
    int(WINAPI* cancel)(FetchJob* job);
    int(WINAPI* close)(FetchJob* job);
};

// Loads qelfetch.dll from self's folder. 0 with the error code in *code when it cannot be
// loaded or lacks an export (then nothing stays loaded).
int LoadFetchLibrary(HMODULE self, FetchLibrary* out, DWORD* code);

// Unloads it; call only after every delivery it started was closed. qelfetch keeps itself
// loaded while WinHTTP's last callback of a closed download still returns through it.
void FreeFetchLibrary(FetchLibrary* library);
