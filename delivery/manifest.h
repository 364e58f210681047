// The release manifest: an INI file read key by key and validated all or nothing.
#pragma once
#include "delivery/job.h"

// Reads and validates job->manifestPath; fills url, entries, entryCount, packageSize,
// unpackedSize and packageSha256. 1 when every rule holds, else 0. Publishes nothing.
int ReadManifest(DeliveryJob* job);

// Strict decimal text (digits only, at most 2,000,000,000) to a number; 0 leaves out unchanged.
int ParseDecimal(const wchar_t* text, ULONGLONG* out);
