// Failure injection for the test build configured with BLORBPACK_FAULTS: the
// heap and the output file fail on demand, so that a test can make each point
// where they are used fail in turn and check how the run ends. In every other
// build these are the plain calls, and nothing reads the environment.
#ifndef BLORBPACK_COMMON_FAULTS_H
#define BLORBPACK_COMMON_FAULTS_H

#include <cstdio>

#ifdef BLORBPACK_FAULTS

// Counts allocations; true for the one that BLORBPACK_FAIL_ALLOC=N names
// (the first is 1), which must then behave as if the heap refused it.
bool AllocationFails();

// Opens the output file for writing in binary. With BLORBPACK_FAIL_OUTPUT=N set,
// the stream writes through a device that counts its writes, seeks and closes
// and fails the Nth (0: none); BLORBPACK_OUTPUT_BUFFER sets the stream's buffer
// size, 0 for none, so that every stdio write reaches the device.
FILE* OpenOutput(const char* name);

#else

constexpr bool AllocationFails() { return false; }
inline FILE* OpenOutput(const char* name) { return fopen(name, "wb"); }

#endif

#endif
