// Download of the package over HTTPS with WinHTTP.
#pragma once
#include "delivery/job.h"

// Creates job->packagePath and fills it with exactly packageSize bytes from job->url. Sets
// packageCreated once the file exists. 1 on success; 0 after publishing a failure, or on cancel.
int DownloadPackage(DeliveryJob* job);
