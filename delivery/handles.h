// Owner types for the kernel resources the delivery code holds.
#pragma once
#include <windows.h>

#include "runtime/owner.h"

// Events, threads: null when absent.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type None() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueHandle = Unique<KernelHandleTraits>;

// Files: INVALID_HANDLE_VALUE when absent.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueFile = Unique<FileHandleTraits>;

// Blocks on the process heap.
struct HeapBlockTraits {
    using Type = void*;
    static Type None() { return nullptr; }
    static void Close(Type p) { HeapFree(GetProcessHeap(), 0, p); }
};
using UniqueHeapBlock = Unique<HeapBlockTraits>;
