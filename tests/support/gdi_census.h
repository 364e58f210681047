// Counting the live GDI objects of the test process: GetGuiResources where it works; under Wine 8,
// where it is a stub that returns 0, the entries in use in the process's shared GDI handle table
// (PEB GdiSharedHandleTable), which Wine keeps as 24-byte entries whose type byte is nonzero while
// the object lives.
#pragma once

// Number of live GDI objects, or -1 when neither source works here (checked on every call by
// creating and deleting one object and seeing the count follow).
long LiveGdiObjects();
