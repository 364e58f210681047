// Verification of the package's size and SHA-256 digest against the manifest.
#pragma once
#include "delivery/job.h"

// Streams the open package file once: 1 when its length is packageSize and its digest is
// packageSha256 and the job was not cancelled; 0 after publishing a failure, or on cancel.
int VerifyPackage(DeliveryJob* job, HANDLE file);
