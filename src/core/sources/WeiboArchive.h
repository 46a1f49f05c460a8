// A Weibo user's posts kept beside its albums: read through the web
// client's list of the user's posts (newest first, within the run's range),
// written one JSON object a line to posts.jsonl in the user's folder, merged
// by mid with the lines already there; and the pictures of the posts it
// reposted, downloaded into "转发".
#pragma once

#include "download/DownloadDriver.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>

namespace tamblin::weibo {

// The keeper the download run asks (SetPostKeeper).
PostKeeper &UserPostKeeper();

// The text of a posts.jsonl whose lines were `earlier` with the lines of
// `posts` merged in by their "mid": a post met again takes its new fields,
// and keeps the file names it had besides its new ones; lines that are no
// post of this form stay as they were, after the posts. Newest post first.
QByteArray MergePostLines(const QByteArray &earlier, const QList<QJsonObject> &posts);

} // namespace tamblin::weibo
