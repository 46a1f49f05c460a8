// Shared pieces of the fuzz targets: turning fuzz bytes into texts, and the
// invariants of names and paths that every target which names files checks.
// A broken invariant aborts, so libFuzzer keeps the input as a crash.
#pragma once

#include <QString>
#include <QStringView>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace tamblin {
class AlbumList;
class TamblinCore;
struct DownloadJobList;
}

namespace fuzz {

// Prints what broke, and where, then traps.
[[noreturn]] void Fail(const char *what, const QString &detail = QString());

#define FUZZ_CHECK(cond, detail)                                                                   \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::Fail(#cond, detail);                                                           \
    } while (0)

// A text from the fuzz bytes: either UTF-8 or raw UTF-16 units (unpaired
// surrogates and NULs included), at most `maxBytes` bytes of input.
QString ConsumeText(FuzzedDataProvider &fdp, size_t maxBytes);

// Once per process: no cookie file, no network, no Qt warnings on stderr.
void InitOnce();

// Folder the targets name files in. It never exists (it lies below
// /dev/null), so nothing is written, while every path built below it is
// still checked as text.
QString SaveFolder();

// One path component as a file system takes it: not empty, no "/", no NUL,
// not "." or "..", at most 255 bytes of UTF-8 (room left for SafeFile's
// temporary name is SafeFile's to make), and one Windows could create too:
// no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) before the first dot,
// no dot or blank at the end.
void CheckComponent(QStringView name, const char *what);

// What SanitizeName promises: no separator, wildcard or control character,
// never "." or "..", trimmed; with fallback not empty and shorter than 1000.
void CheckSanitized(const QString &name, bool fallback);

// The album folder and every job of `jobs`: inside `saveFolder`, the album
// folder one component below it (or the save folder itself), each file
// inside the album folder with components that fit, no two jobs on the same
// file (letter case ignored).
void CheckJobs(const tamblin::DownloadJobList &jobs, const QString &saveFolder);

// Album names are folder names: each a sanitized component, no two alike
// when letter case is ignored, none taking a name the program keeps.
void CheckAlbumNames(const tamblin::AlbumList &albums);

} // namespace fuzz
