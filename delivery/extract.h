// Extraction of the verified cabinet into the work directory, every member bound to a
// manifest entry.
#pragma once
#include "delivery/job.h"

// Creates workDir and extracts every entry; 1 only when every entry is written and verified.
int ExtractPackage(DeliveryJob* job);
