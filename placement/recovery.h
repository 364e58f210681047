// The next run's first duty: finishing whatever a killed run left in the install folder.
#pragma once
#include "placement/job.h"

// Finds the journal a killed run left in the folder's staging and undoes its steps (or, past
// its commit point, finishes its clean-up), then removes every stale staging folder. Runs under
// the folder's lock, before anything else. A failure is published; the journal then stays.
int RecoverFolder(PlaceJob* job);
