/* qelfetch.dll: delivers an application payload for a host installer.

   A host starts one delivery job per payload, polls its phase, percentage and status text as
   often as it likes (from any thread), may cancel it at any time, and closes it exactly once.
   Closing waits for the job's worker thread and deletes everything the job created on disk.
   All exports use the stdcall convention and 32-bit arguments; none of them blocks except
   PayloadClose, and none of them shows UI, logs or raises an error. */
#ifndef QEL_DELIVERY_PAYLOAD_H
#define QEL_DELIVERY_PAYLOAD_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct DeliveryJob DeliveryJob;

enum PayloadPhase {
    PAYLOAD_PREPARING = 1,
    PAYLOAD_DOWNLOADING = 2,
    PAYLOAD_VERIFYING = 3,
    PAYLOAD_EXTRACTING = 4,
    PAYLOAD_READY = 5,
    PAYLOAD_FAILED = 6,
    PAYLOAD_CANCELLED = 7
};

/* Starts a delivery: the release manifest, the package file (downloaded to this path when the
   manifest names a Url, else already in place) and the work directory to extract into (must not
   exist yet). Returns the job, or null when an argument is null or too long or no thread could
   be started. */
DeliveryJob* WINAPI PayloadStart(const wchar_t* manifestPath, const wchar_t* packagePath,
                                 const wchar_t* workDir);

/* Copies the current phase, percentage (0 to 100) and status text. Returns 1, or 0 when an
   argument is bad (nothing written) or the text was cut to capacity - 1 units (phase and
   percent still written). A capacity of 1024 never cuts. */
int WINAPI PayloadPoll(DeliveryJob* job, int* phase, int* percent, wchar_t* text, int capacity);

/* Asks the job to stop; returns at once. 0 for a null job, else 1. */
int WINAPI PayloadCancel(DeliveryJob* job);

/* Cancels the job, waits for its worker, deletes what the job created (extracted files, the work
   directory, a downloaded package) and frees the job. Returns 1 when everything it tried to
   delete is gone, 0 otherwise (for example when a stranger's file keeps the work directory). */
int WINAPI PayloadClose(DeliveryJob* job);

#ifdef __cplusplus
}
#endif

#endif
