// File-system and picture helpers of the download engine: cleaning texts into
// file and folder names, creating a save path, recognising and correcting
// picture file names, the two fix-up passes over an album's files, and the
// UTF-16 text file.
//
// Paths use the native separator; a full path is what the platform calls
// absolute.
#pragma once

#include "net/SafeFile.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace tamblin {

class WindowPort;
struct DownloadJobList;

// The number that asks SanitizeName's fallback for a time stamp.
inline constexpr int kTimeStampFallback = 0xFFFF;

// Makes any text safe as one file or folder name, in place: collapses
// blanks, drops separators, wildcards and control characters, and never
// leaves "." or "..". Dots at either end are dropped before the last
// trim, so a dot that stood behind a blank stays: ". .x" gives ".x" and
// "a. *" gives "a.". With `fallback`, a name that ends up empty or 1000
// characters or longer becomes a time stamp (number kTimeStampFallback) or
// "pic<number>". Entities are not decoded here: the page text a name comes
// from was decoded once already (UrlSource::GetText), and a second decoding
// would turn a name's own "&amp;" into "&".
void SanitizeName(QString &name, int number, bool fallback);

// Bytes of `text` in UTF-8 (an unpaired surrogate counts as U+FFFD).
qsizetype Utf8Length(QStringView text);

// The longest prefix of `text` whose UTF-8 form has at most `maxBytes`
// bytes, never splitting a surrogate pair.
QString CutToUtf8Bytes(QStringView text, qsizetype maxBytes);

// The one way a name the program makes is finished: stem + keep + ext,
// with the last path component of `stem` cut at a character boundary so
// that the component fits kMaxComponentBytes, and a name Windows could not
// create (a device name such as CON, NUL, COM1 or LPT9 before its first
// dot, in any case, or a trailing dot or blank) given a "_" behind the
// device name or at its end: "CON_.jpg", "NUL_", "a._". The cut falls before
// `keep` (a duplicate number) and `ext`, so numbered names stay apart.
QString FitName(QStringView stem, QStringView keep = {}, QStringView ext = {});

// FitName of `name` with its extension (the text from the last dot, when it
// is short) kept whole.
QString FitFileName(const QString &name);

// `text` with letter case folded, code point by code point: two names equal
// once folded are one name to a case-insensitive disk (exFAT, NTFS, macOS).
QString FoldedName(QStringView text);

// The local time of `time` (seconds since 1970) as 14 digits,
// yyyyMMddhhmmss; empty when it cannot be converted.
QString MakeTimeStampName(std::int64_t time);

// True when `path` is absolute on this platform.
bool IsFullPath(QStringView path);

// Creates `path` folder by folder. The path is trimmed and left ending in the
// native separator. Returns true when every folder exists afterwards; the
// first one that cannot be created is shown through `window` (when given).
bool CreateDirectoryPath(QString &path, WindowPort *window);

// True when `name` ends in .jpeg, .jpg, .bmp, .gif, .png or .tif, in any case.
bool HasImageExtension(QStringView name);

// Gives the file at `path` the extension its first bytes call for and renames
// it: a picture's (".png", ".gif", ...), or with `clip` a clip's (".mov" for
// a QuickTime file, ".mp4" for another ISO media file). `path` becomes the
// new name whenever the file exists, even when the rename fails; returns true
// when the file now bears that name. An existing file of the new name is
// never replaced.
bool FixImageFormat(QString &path, bool clip = false);

// FixImageFormat over every downloaded file of `jobs` (only over those whose
// extras ask for it when `flaggedOnly`; a clip only when they do); the job's
// file name follows a successful rename. Missing files are left alone.
void FixPictureFormats(DownloadJobList &jobs, bool flaggedOnly = false);

// Dates the files of `jobs` so that a listing by time shows the album's
// order: the first file now, each later one 60 seconds older.
void FixPictureOrder(DownloadJobList &jobs);

// Sets the modification and access time (and, where the platform has one,
// the creation time) of an existing file to `time` (seconds since 1970) when
// it is above 0; a link at `path` is not followed. Missing files are left
// alone.
void SetFileTimes(const QString &path, std::int64_t time);

// Writes FF FE followed by `bytes` as a new file `name` ("1.txt" when
// empty), replacing the old one. Nothing happens when it cannot be written.
void WriteUnicodeTextFile(const QString &name, QByteArrayView bytes);

} // namespace tamblin
