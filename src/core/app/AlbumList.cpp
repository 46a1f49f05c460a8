#include "app/AlbumList.h"

#include "app/WindowPort.h"
#include "download/FileUtils.h"
#include "download/ListFiles.h"
#include "text/TextUtils.h"

#include <new>

namespace tamblin {

using namespace Qt::StringLiterals;

namespace {

// `name` cut to at most `limit` characters, without splitting a surrogate
// pair and without the blanks and dots the cut may leave at its end (the
// name is a folder name). `name` starts with no blank.
QString CutName(const QString &name, qsizetype limit)
{
    if (name.size() <= limit)
        return name;
    qsizetype length = limit;
    if (length > 0 && name[length - 1].isHighSurrogate())
        --length;
    QString cut = name.left(length);
    qsizetype end = cut.size();
    while (end > 0 && (cut[end - 1].isSpace() || cut[end - 1] == u'.'))
        --end;
    if (end > 0) {
        cut.truncate(end);
        return cut;
    }
    // Dots and blanks alone were kept: stripping them leaves no name, and a
    // folder name of dots is no name either. The dots become ideographic
    // full stops, as in a name of dots alone.
    cut.replace(u'.', QChar(0x3002));
    return cut.trimmed();
}

// Candidate n for `base`: "%s (%u)", the base shortened so that the whole
// stays within the name limits (characters and bytes). Different n always
// give different texts.
QString Numbered(const QString &base, unsigned n)
{
    const QString suffix = u" (%1)"_s.arg(n);
    return FitName(CutName(base, kMaxAlbumNameLength - suffix.size()), suffix);
}

// `cleaned`, or its first numbered form " (n)" that `taken` does not hold
// under `key`, recorded in `names` for album `index`.
template <typename Key, typename Taken>
QString UniqueName(AlbumList::NameSet &names, const QString &cleaned, int index, Key key, Taken taken)
{
    // Names are never removed singly, so every candidate below the hint is
    // still taken: starting there finds the same name as trying n = 1, 2,
    // 3, ... would.
    QString name = cleaned;
    unsigned n = 0;
    if (taken(name)) {
        n = qMax(names.nextN.value(key(cleaned)), 1u);
        name = Numbered(cleaned, n);
        while (taken(name))
            name = Numbered(cleaned, ++n);
    }
    names.taken.insert(key(name), index);
    if (n > 0)
        names.nextN.insert(key(cleaned), n + 1);
    return name;
}

} // namespace

int AlbumList::AddAlbum(const ST_PERLISTRECORD &album, WindowPort *window)
{
    QString cleaned = album.name;
    SanitizeName(cleaned, kTimeStampFallback, true);
    cleaned = FitName(CutName(cleaned, kMaxAlbumNameLength));
    // The rules before names were decoded once, compared ignoring case and
    // guarded: an older archive may hold the album under this name.
    QString oldCleaned = album.name;
    HtmlDecode(oldCleaned);
    SanitizeName(oldCleaned, kTimeStampFallback, true);
    oldCleaned = CutName(oldCleaned, kMaxAlbumNameLength);

    std::lock_guard lock(m_mutex);
    try {
        auto record = std::make_unique<ST_PERLISTRECORD>(album);
        record->thumbIndex = -1;
        record->index = int(items.size());
        const int index = record->index;
        const auto taken = [this](const QString &name) {
            return m_names.taken.contains(FoldedName(name)) || TakesReservedName(name);
        };
        record->name = UniqueName(m_names, cleaned, index, [](const QString &name) { return FoldedName(name); }, taken);
        record->oldName = UniqueName(
            m_oldNames, oldCleaned, index, [](const QString &name) { return name; },
            [this](const QString &name) { return m_oldNames.taken.contains(name); });
        items.push_back(std::move(record));
    } catch (const std::bad_alloc &) {
        if (window)
            window->ShowMessage(u"内存分配失败"_s);
    }
    return int(items.size());
}

void AlbumList::Clear()
{
    std::lock_guard lock(m_mutex);
    while (!items.empty())
        items.pop_back();
    m_names = {};
    m_oldNames = {};
}

int AlbumList::Size() const
{
    std::lock_guard lock(m_mutex);
    return int(items.size());
}

ST_PERLISTRECORD *AlbumList::At(int index) const
{
    std::lock_guard lock(m_mutex);
    if (index < 0 || size_t(index) >= items.size())
        return nullptr;
    return items[size_t(index)].get();
}

int AlbumList::FindName(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return m_names.taken.value(FoldedName(name), -1);
}

QString RemarkText(std::int32_t flags)
{
    if (flags < 0)
        return QString::asprintf("%08u", unsigned(flags) & 0x7FFFFFFFu);
    if (flags & 1)
        return u"加密相册"_s;
    if (flags & 2)
        return u"私密相册"_s;
    if (flags & 4)
        return u"好友可见"_s;
    return {};
}

QString CountText(std::int32_t count)
{
    if (count == -1)
        return u"未知"_s;
    return QString::asprintf("%4u", unsigned(count));
}

} // namespace tamblin
