// The temporary files being written, known to a signal handler: a program
// that must quit at once (a second Ctrl+C) removes them first, so that no
// half-written file is left beside the name it was meant for.
#pragma once

namespace tamblin {

// Creates the temporary file `name` (relative to the open folder `dirFd`,
// or AT_FDCWD) as open(2) would, and records it until ForgetTempFile. The
// folder must stay open as long as the file is recorded. `slot` gets the
// record, or -1 when none is free (the file is then not removed on a quick
// quit). Fails with EINTR once RemoveTempFilesForQuit has begun.
int OpenTempFile(int dirFd, const char *name, int flags, int mode, int &slot);
// The file was renamed to its name or removed: no longer to remove on a quit.
void ForgetTempFile(int slot);
// Removes every recorded temporary file and records no more. Safe in a
// signal handler (atomics, nanosleep and unlinkat only); the process is to
// end right after it.
void RemoveTempFilesForQuit();

} // namespace tamblin
