#include "delivery/manifest.h"

int ReadManifest(DeliveryJob*) { return 0; }

int ParseDecimal(const wchar_t*, ULONGLONG*) { return 0; }
