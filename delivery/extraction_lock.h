// Process-wide serialisation of cabinet extraction. The decompressor's open callback receives
// only a file name, so the job being extracted is published here while the lock is held.
#pragma once
#include <windows.h>

#include "delivery/job.h"

// Held exclusively for the whole decompressor run of one job.
extern SRWLOCK ExtractionLock;
// The job whose extraction holds ExtractionLock; null otherwise.
extern DeliveryJob* ExtractionJob;
