// Turns WinHTTP's asynchronous calls into blocking steps on the worker thread.
//
// Before each asynchronous call the worker resets the wait record; WinHTTP's status callback
// (on its own threads) stores what completed and sets doneEvent; the worker then waits for that
// event, the job's cancel event or 60 seconds, whichever comes first. Exactly one operation is
// outstanding at a time.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include "delivery/job.h"

constexpr DWORD HttpStepTimeoutMs = 60000;
constexpr DWORD HttpNotificationMask = 0x097E0C00;  // every completion, request error, handle created/closing

struct HttpWait {
    HANDLE doneEvent;    // manual reset: a completion or a request error arrived
    HANDLE closedEvent;  // manual reset: the request handle is closing; no notification follows
    HMODULE module;      // this DLL's reference owned by the installed callback (http_closing.h)
    // Written and read only with interlocked operations.
    LONG status;  // notification code of the last completion, 0 after a reset
    LONG error;   // error of a request-error notification, else 0
    LONG length;  // information length of the last completion (bytes read for a read)
};

// Clears doneEvent and the three fields, in that order, before an asynchronous call is issued,
// so that a completion arriving before the wait starts is kept.
void HttpWaitReset(HttpWait* wait);

// Waits for the completion of the call just issued (callResult is what it returned). 1 when the
// expected notification arrived; else 0 with *code: the call's own error, 1223 on cancel, the
// request error, 5023 for another completion, 12002 after 60 seconds.
int HttpWaitStep(DeliveryJob* job, HttpWait* wait, BOOL callResult, DWORD expected, DWORD* code);

// Every notification of the request but the closing one (HttpCallbackEntry takes that one);
// context is the HttpWait record.
extern "C" void CALLBACK HttpStatusCallback(HINTERNET request, DWORD_PTR context, DWORD notification, void* information,
                                            DWORD informationLength);
