#pragma once

namespace oru {

/// Puts /dev/null on each of descriptors 0, 1 and 2 that was closed when the
/// program started (some session starters close stdin and stderr), before the
/// program opens anything: otherwise the next pipe or file takes the number,
/// and a line meant for stderr lands in the quit-signal pipe or in a file the
/// program reads. Each is opened the other way round to its use (stdin
/// write-only, stdout and stderr read-only), so that using it still fails with
/// EBADF as on the closed descriptor: output that was closed stays lost, and a
/// program whose output is its answer can still say that it was.
void occupyClosedStandardDescriptors();

} // namespace oru
