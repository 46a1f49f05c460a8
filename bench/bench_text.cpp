// Walks pages of 2 MB and 20 MB with the marker helpers the way the
// extractors do, and strips the tags of a caption as large, and prints both
// times and their ratio: a linear walk gives a ratio close to 10.
#include "text/TextUtils.h"

#include <QStringList>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace tamblin;
using namespace Qt::StringLiterals;

namespace {

// A Weibo album-list answer of about `bytes` UTF-16 units.
QString WeiboJson(qsizetype bytes)
{
    QString page = u"{\"result\":true,\"data\":{\"total\":0,\"album_list\":["_s;
    for (int i = 0; page.size() < bytes; ++i) {
        page += u"{\"album_id\":\"%1\",\"uid\":\"1234567890\",\"type\":%2,\"caption\":\"\\u76f8\\u518c %1\","
                u"\"cover_pic\":\"http:\\/\\/ww1.sinaimg.cn\\/thumb300\\/abc%1.jpg\",\"photos\":%3,\"created_at\":1400000000},"_s
                    .arg(i).arg(i % 4).arg(i % 500);
    }
    return page + u"]}}"_s;
}

// An album page with picture blocks.
QString PictureHtml(qsizetype bytes)
{
    QString page = u"<html><head><title>album</title></head><body><div class=\"list\">"_s;
    for (int i = 0; page.size() < bytes; ++i) {
        page += u"<div class=\"pt_border\"><a href=\"http://photo.sina.com.cn/photo/%1\">"
                u"<img src=\"http://s%2.sinaimg.cn/small/%1&amp;690\" title=\"picture %1\"/></a></div>\n"_s
                    .arg(i).arg(i % 16);
    }
    return page + u"</div></body></html>"_s;
}

// A hostile caption: a distinct tag every nine characters.
QString TaggedText(qsizetype bytes)
{
    QString text;
    text.reserve(bytes + 16);
    for (int i = 0; text.size() < bytes; ++i)
        text += u"<t%1>ab"_s.arg(i, 6, 10, QChar(u'0'));
    return text;
}

int WalkJson(const QString &json)
{
    QStringList pieces;
    SplitString(pieces, json, u"\"album_id\":\"");
    int found = 0;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        QString piece = pieces[i];
        const QString id = GetBetween(piece, u"", u"\"", kAdvance);
        const QString caption = JsonUnescape(GetBetween(piece, u"\"caption\":\"", u"\"", kAdvance));
        const QString cover = GetBetween(piece, u"cover_pic\":\"", u"\"", kAdvance);
        const QString photos = GetBetween(piece, u"\"photos\":", u",", kAdvance);
        found += !id.isEmpty() && !caption.isEmpty() && !cover.isEmpty() && !photos.isEmpty();
    }
    return found;
}

int WalkHtml(QString page)
{
    int found = 0;
    for (;;) {
        const QString src = GetBetween(page, u"<img src=\"", u"\"", kAdvance);
        if (src.isEmpty())
            break;
        const QString title = GetBetween(page, u"title=\"", u"\"", kAdvance);
        found += !title.isEmpty();
    }
    return found;
}

// Best of five runs, so that one slow run (a page fault storm, the other
// core busy) does not decide the ratio.
double Seconds(const std::function<int()> &walk, int &found)
{
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        found = walk();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void Report(const char *what, const std::function<QString(qsizetype)> &make,
            const std::function<int(const QString &)> &walk)
{
    const QString small = make(1 << 20); // 2 MB of UTF-16
    const QString large = make(10 << 20); // 20 MB
    int smallFound = 0, largeFound = 0;
    const double ts = Seconds([&] { return walk(small); }, smallFound);
    const double tl = Seconds([&] { return walk(large); }, largeFound);
    std::printf("%-28s 2 MB: %8.2f ms (%7d items)   20 MB: %8.2f ms (%7d items)   ratio %.1f\n", what,
                ts * 1000, smallFound, tl * 1000, largeFound, tl / ts);
}

} // namespace

int main()
{
    Report("Weibo JSON, SplitString", WeiboJson, WalkJson);
    Report("HTML, GetBetween walk", PictureHtml, WalkHtml);
    Report("Tagged caption, StripTags", TaggedText, [](const QString &text) { return int(StripTags(text).size()); });
    return 0;
}
