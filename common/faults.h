// Failure injection for the test build configured with BLORBPACK_FAULTS: the
// heap and the output file fail on demand, so that a test can make each point
// where they are used fail in turn and check how the run ends. In every other
// build these are the plain calls, and nothing reads the environment.
#ifndef BLORBPACK_COMMON_FAULTS_H
#define BLORBPACK_COMMON_FAULTS_H

#include <cstdio>

#include "common/platform.h"

#ifdef BLORBPACK_FAULTS

// Counts allocations; true for the one that BLORBPACK_FAIL_ALLOC=N names
// (the first is 1), which must then behave as if the heap refused it.
bool AllocationFails();

// The output stream on a descriptor open for writing. With
// BLORBPACK_FAIL_OUTPUT=N set, the stream writes through a device that counts
// its writes, seeks and closes, and the moving of the finished file into place
// counts too; the Nth of them fails (0: none). BLORBPACK_OUTPUT_BUFFER sets the
// stream's buffer size, 0 for none, so that every stdio write reaches the
// device.
FILE* OutputStream(int descriptor);
bool ReplaceOutput(const char* name);

#else

constexpr bool AllocationFails() { return false; }
inline FILE* OutputStream(int descriptor) { return StreamOnDescriptor(descriptor); }
inline bool ReplaceOutput(const char* name) { return ReplaceWithTemporary(name); }

#endif

#endif
