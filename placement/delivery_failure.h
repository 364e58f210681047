// What to do after a part's delivery failed, read from qelfetch's failure line: deliver it
// again (a network fault that a new try may mend), try the next address at once (this server
// does not have the package), or give up (nothing a new try can mend).
#pragma once
#include <windows.h>

enum class DeliveryRemedy {
    GiveUp,   // a manifest refusal, disk full, a certificate, a file of ours in the way, ...
    Again,    // a WinHTTP or socket error, a time-out, a cut or broken body, HTTP 5xx
    NextUrl,  // HTTP 4xx or a length that is not the package's: another address may have it
};

// downloaded: the failed delivery downloaded its package (a digest mismatch then counts as a
// broken transfer; of a package beside the installer it does not).
DeliveryRemedy RemedyFor(const wchar_t* failure, bool downloaded);

// The error code at the end of a line "…（错误码 N）。", 0 when there is none.
DWORD FailureCode(const wchar_t* failure);
