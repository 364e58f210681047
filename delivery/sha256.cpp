#include "delivery/sha256.h"

int Sha256Begin(Sha256State* state)
{
    state->algorithm = nullptr;
    state->hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        state->algorithm = nullptr;
        Sha256End(state);
        return 0;
    }
    if (!BCRYPT_SUCCESS(BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        state->hash = nullptr;
        Sha256End(state);
        return 0;
    }
    return 1;
}

int Sha256Finish(Sha256State* state, const BYTE* expected)
{
    BYTE digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(state->hash, digest, sizeof digest, 0))) return 0;
    BYTE difference = 0;
    for (int i = 0; i < 32; ++i) difference |= static_cast<BYTE>(digest[i] ^ expected[i]);
    return difference == 0 ? 1 : 0;
}

void Sha256End(Sha256State* state)
{
    if (state->hash != nullptr) BCryptDestroyHash(state->hash);
    if (state->algorithm != nullptr) BCryptCloseAlgorithmProvider(state->algorithm, 0);
    state->hash = nullptr;
    state->algorithm = nullptr;
}
