// Counting the live GDI objects of the test process. GetGuiResources is a stub under Wine 8, so
// the count is read from the process's GDI handle table (PEB GdiSharedHandleTable), which Wine
// keeps as 24-byte entries whose type byte is nonzero while the object lives.
#pragma once
#include <cstddef>

// Number of live GDI objects, or -1 when the table cannot be read in this layout (checked by
// creating and deleting one object and seeing the count follow).
long LiveGdiObjects();
