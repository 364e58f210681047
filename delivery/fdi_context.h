// Owner of a cabinet decompressor context.
#pragma once
#include <windows.h>

#include <fdi.h>

#include "runtime/owner.h"

struct FdiContextTraits {
    using Type = HFDI;
    static Type None() { return nullptr; }
    static void Close(Type context) { FDIDestroy(context); }
};
using UniqueFdiContext = Unique<FdiContextTraits>;
