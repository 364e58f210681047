// The seed of a fuzz test: fixed, so that every run of the suite tries the same cases, unless
// the environment variable QEL_FUZZ_SEED holds a number, which then seeds the run instead
// (for example QEL_FUZZ_SEED=$RANDOM ./qel test -R fuzz). The seed in use is printed, so a
// failure found with a free seed can be repeated.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>

inline unsigned FuzzSeed(unsigned fixed, const char* test)
{
    char text[32];
    DWORD length = GetEnvironmentVariableA("QEL_FUZZ_SEED", text, sizeof text);
    unsigned seed = fixed;
    if (length > 0 && length < sizeof text) seed = static_cast<unsigned>(strtoul(text, nullptr, 10));
    printf("%s: seed %u%s\n", test, seed, seed == fixed ? " (fixed)" : " (QEL_FUZZ_SEED)");
    return seed;
}
