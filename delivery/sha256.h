// One running SHA-256 computation on the platform's CNG provider. A zero-filled state is idle.
#pragma once
#include <windows.h>

#include <bcrypt.h>

struct Sha256State {
    BCRYPT_ALG_HANDLE algorithm;  // opened for this state alone
    BCRYPT_HASH_HANDLE hash;
};

// Opens the provider and creates the hash; 0 (state idle) on failure. Data is fed with
// BCryptHashData on state->hash.
int Sha256Begin(Sha256State* state);

// Finishes the hash and compares it with expected (32 bytes) in constant time; 1 when equal.
// The state stays allocated until Sha256End.
int Sha256Finish(Sha256State* state, const BYTE* expected);

// Releases the hash and the provider; harmless on an idle state and when called twice.
void Sha256End(Sha256State* state);
