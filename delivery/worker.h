// The worker thread of a delivery job: runs the pipeline once and publishes the final phase.
#pragma once
#include "delivery/job.h"

DWORD WINAPI DeliveryWorker(void* job);
