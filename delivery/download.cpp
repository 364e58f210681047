#include "delivery/download.h"

int DownloadPackage(DeliveryJob*) { return 0; }
