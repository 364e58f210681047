#include "delivery/extraction_lock.h"

// Both are constant-initialised: no constructor runs, and the lock is usable before any code
// of the DLL has executed.
constinit SRWLOCK ExtractionLock = SRWLOCK_INIT;
constinit DeliveryJob* ExtractionJob = nullptr;
