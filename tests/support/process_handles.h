// Kernel handles of this process, counted through the system handle table
// (NtQuerySystemInformation class 16), which Wine fills in; GetProcessHandleCount is a stub there.
#pragma once

// -1 when the table cannot be read.
long CountProcessHandles();
