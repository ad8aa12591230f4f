#pragma once

#include <QtGlobal>

namespace vn {

// Hands the heap's free pages back to the system. The C library keeps memory
// that was freed for later allocations, so after many small objects are gone
// (a closed page, a dropped history) the process would otherwise stay as large
// as it ever was. Costs a walk over the heap: call it once after such a
// release, never per allocation. Returns whether anything was given back;
// false where the C library offers no way to ask.
bool returnFreeMemoryToSystem();

// This process's resident memory in KiB, as the system counts it; -1 where
// it does not say.
qint64 residentMemoryKib();

} // namespace vn
