// The albums (or blog articles) found by one list run, in delivery order.
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tamblin {

class WindowPort;

struct ST_PERLISTRECORD {
    QString name;
    // The name the rules of earlier versions gave the album (entities
    // decoded twice, duplicates told apart by case, no name kept for the
    // program, no guard for Windows): its folder may hold an older archive.
    // Empty for a record not added through AlbumList::AddAlbum.
    QString oldName;
    QString albumUrl;
    QString coverUrl;
    QString text3; // reserved for site handlers
    QString text4; // reserved for site handlers
    std::int32_t count = -1; // -1: no count delivered
    // Bit 0 encrypted, bit 1 private, bit 2 friends only; a negative value
    // carries a number in its low 31 bits instead.
    std::int32_t flags = 0;
    std::int32_t value1 = 0;
    std::int32_t value2 = 0;
    std::int32_t index = 0;
    std::int32_t thumbIndex = -1;
    // When the album's content was posted, where the list says (a blog
    // article's date), seconds since 1970; 0 when it does not.
    std::int64_t postTime = 0;
};

// Longest album name; the name is also the album's folder name.
inline constexpr qsizetype kMaxAlbumNameLength = 80;

// The list worker appends while the window shows rows: a reader on another
// thread than the one adding goes through Size() and At(), which take the
// list's lock. Records never move and are never removed singly, so a pointer
// from At() stays valid until Clear().
class AlbumList {
public:
    std::vector<std::unique_ptr<ST_PERLISTRECORD>> items;
    std::int32_t selectedCount = 0;

    // Copies `album`, cleans its name into a folder name of at most
    // kMaxAlbumNameLength characters (FitName) and makes it unique with
    // " (n)", ignoring letter case as a case-insensitive disk does and
    // counting the names the program keeps for itself (TakesReservedName) as
    // taken; sets its oldName. Returns the new number of albums. A record
    // that cannot be allocated is reported through `window` and not added.
    int AddAlbum(const ST_PERLISTRECORD &album, WindowPort *window = nullptr);
    // Deletes every record, from the back to the front. Not while a list run
    // adds albums.
    void Clear();
    int Size() const;
    // The record at `index`, or null when there is none.
    ST_PERLISTRECORD *At(int index) const;
    // The index of the album named `name`, letter case ignored, or -1.
    int FindName(const QString &name) const;

    // Names in the list by key, and per cleaned name's key the smallest n
    // not known to be taken.
    struct NameSet {
        QHash<QString, int> taken;
        QHash<QString, unsigned> nextN;
    };

private:
    mutable std::mutex m_mutex;
    NameSet m_names;    // today's names, case folded
    NameSet m_oldNames; // oldName of each album, as they are
};

// The remark column of the album grid for `flags`.
QString RemarkText(std::int32_t flags);
// The count column: "%4u", or "未知" for -1.
QString CountText(std::int32_t count);

} // namespace tamblin
