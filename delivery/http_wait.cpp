#include "delivery/http_wait.h"

namespace {

LONG ReadField(LONG* field) { return InterlockedCompareExchange(field, 0, 0); }
void WriteField(LONG* field, DWORD value) { InterlockedExchange(field, static_cast<LONG>(value)); }

}  // namespace

void HttpWaitReset(HttpWait* wait)
{
    ResetEvent(wait->doneEvent);
    WriteField(&wait->status, 0);
    WriteField(&wait->error, 0);
    WriteField(&wait->length, 0);
}

int HttpWaitStep(DeliveryJob* job, HttpWait* wait, BOOL callResult, DWORD expected, DWORD* code)
{
    if (!callResult) {
        *code = GetLastError();
        return 0;
    }
    // Cancel first: when both are set, the cancellation wins.
    HANDLE events[2] = {job->cancelEvent, wait->doneEvent};
    DWORD waited = WaitForMultipleObjects(2, events, FALSE, HttpStepTimeoutMs);
    switch (waited) {
    case WAIT_OBJECT_0: {
        *code = ERROR_CANCELLED;
        return 0;
    }
    case WAIT_OBJECT_0 + 1: {
        *code = static_cast<DWORD>(ReadField(&wait->error));
        if (*code != 0) return 0;
        if (static_cast<DWORD>(ReadField(&wait->status)) == expected) return 1;
        *code = ERROR_INVALID_STATE;
        return 0;
    }
    case WAIT_TIMEOUT: {
        *code = ERROR_WINHTTP_TIMEOUT;
        return 0;
    }
    default: {
        *code = GetLastError();
        return 0;
    }
    }
}

extern "C" void CALLBACK HttpStatusCallback(HINTERNET, DWORD_PTR context, DWORD notification, void* information,
                                            DWORD informationLength)
{
    auto* wait = reinterpret_cast<HttpWait*>(context);
    if (wait == nullptr) return;
    switch (notification) {
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        // Without an error number the step still fails: the status then differs from the one
        // awaited.
        auto* result = static_cast<WINHTTP_ASYNC_RESULT*>(information);
        if (result != nullptr) WriteField(&wait->error, result->dwError);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        break;
    default:
        return;
    }
    WriteField(&wait->length, informationLength);
    WriteField(&wait->status, notification);
    SetEvent(wait->doneEvent);
}
