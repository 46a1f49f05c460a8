// File-system and picture helpers of the download engine: cleaning texts into
// file and folder names, creating a save path, recognising and correcting
// picture file names, the two fix-up passes over an album's files, and the
// UTF-16 text file.
//
// Paths use the native separator; a full path is what the platform calls
// absolute.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>

namespace tamblin {

class WindowPort;
struct DownloadJobList;

// The number that asks SanitizeName's fallback for a time stamp.
inline constexpr int kTimeStampFallback = 0xFFFF;

// Makes any text safe as one file or folder name, in place: decodes entities,
// collapses blanks, drops separators, wildcards and control characters, and
// never leaves "." or "..". Dots at either end are dropped before the last
// trim, so a dot that stood behind a blank stays: ". .x" gives ".x" and
// "a. *" gives "a.". With `fallback`, a name that ends up empty or 1000
// characters or longer becomes a time stamp (number kTimeStampFallback) or
// "pic<number>".
void SanitizeName(QString &name, int number, bool fallback);

// The most bytes a file system takes for one path component (file or folder
// name) in UTF-8.
inline constexpr qsizetype kMaxComponentBytes = 255;

// Bytes of `text` in UTF-8 (an unpaired surrogate counts as U+FFFD).
qsizetype Utf8Length(QStringView text);

// The longest prefix of `text` whose UTF-8 form has at most `maxBytes`
// bytes, never splitting a surrogate pair.
QString CutToUtf8Bytes(QStringView text, qsizetype maxBytes);

// `name` cut to kMaxComponentBytes bytes of UTF-8, at a character boundary,
// keeping its extension (the text from the last dot, when it is short).
QString FitFileName(const QString &name);

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
// it is above 0. Files that cannot be opened are left alone.
void SetFileTimes(const QString &path, std::int64_t time);

// Writes FF FE followed by `bytes` to `name` ("1.txt" when empty), replacing
// the file. Nothing happens when it cannot be created.
void WriteUnicodeTextFile(const QString &name, QByteArrayView bytes);

} // namespace tamblin
