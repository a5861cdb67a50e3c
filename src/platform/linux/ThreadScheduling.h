#pragma once

namespace oru {

/// Asks the kernel to give the calling thread, and every thread it starts
/// from now on, short time slices (Linux 6.12 and later; older kernels
/// accept and ignore it). The driver's threads wake for a few microseconds
/// per pen report; with short slices the scheduler lets a woken one run at
/// once instead of after a busy program's full slice, which is what made a
/// loaded machine's report latency reach milliseconds. It gives no thread
/// more CPU time. Keeps the thread's nice value; does nothing for a thread
/// that doesn't run under the normal policy. Returns whether it was set.
bool requestShortTimeSlices();

} // namespace oru
