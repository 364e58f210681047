#include "delivery/verify.h"

int VerifyPackage(DeliveryJob*, HANDLE) { return 0; }
