#pragma once

// A program that links CountingAllocator.cpp replaces the global allocation
// functions with counting ones; this tells how many allocations happened.

namespace oru::test {

/// Calls of the global operator new (all forms) since the program started.
long allocationCount();

} // namespace oru::test
