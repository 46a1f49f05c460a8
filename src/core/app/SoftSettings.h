// The settings record kept as "soft.dat": per site index the download
// parameters and the naming rules, plus the address and save-path histories.
//
// The file is a 19,808-byte little-endian image with no header. It is read and
// written field by field (ToBytes/FromBytes), never as a memory image, so the
// layout does not depend on the compiler.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace tamblin {

inline constexpr int kSiteSlots = 24;
inline constexpr int kHistoryEntries = 5;
inline constexpr int kHistoryUnits = 400;
inline constexpr int kRuleUnits = 40;
inline constexpr qsizetype kSoftSettingsSize = 19808;

// Option bits of SiteRules::flags.
enum SiteRuleFlag : std::uint16_t {
    kFixFormat = 0x01,
    kFixOrder = 0x02,
    kWriteTitles = 0x04,
    kListOnly = 0x08,
    kOpenFolderWhenDone = 0x10,
    kShopMainPicturesOnly = 0x20,
    kSkipDownloaded = 0x40,
    kLargePictures = 0x80,
    kShopDescriptionOnly = 0x100,
};

struct DownParams {
    std::uint16_t minKb = 0;
    std::uint16_t maxKb = 0;
    std::uint16_t threads = 0;
    std::uint16_t timeoutSec = 0;
};

// A fixed text field: N UTF-16 units, NUL-terminated when shorter.
template <int N>
struct FixedText {
    std::array<char16_t, N> units{};

    QString Get() const;
    // Stores at most N - 1 units so that the field stays NUL-terminated.
    void Set(QStringView text);
};

struct SiteRules {
    FixedText<kRuleUnits> filePrefix;
    FixedText<kRuleUnits> fileSuffix;
    FixedText<kRuleUnits> replaceFrom;
    FixedText<kRuleUnits> replaceTo;
    FixedText<kRuleUnits> folderPrefix;
    FixedText<kRuleUnits> folderSuffix;
    std::uint16_t flags = 0;
    std::uint8_t fileNameMode = 0;   // 0 description, 1 sequence number, 2 address
    std::uint8_t folderNameMode = 0; // 0 album name, 1 none
};

struct SoftSettings {
    std::array<DownParams, kSiteSlots> downParams{};
    std::array<SiteRules, kSiteSlots> siteRules{};
    std::array<FixedText<kHistoryUnits>, kHistoryEntries> addressHistory{};
    std::array<FixedText<kHistoryUnits>, kHistoryEntries> savePathHistory{};

    // The exact 19,808-byte file image.
    QByteArray ToBytes() const;
    // Reads up to 19,808 bytes; a shorter image leaves the rest zero, bytes
    // beyond are ignored. No load rules are applied here.
    static SoftSettings FromBytes(QByteArrayView bytes);
};

template <int N>
QString FixedText<N>::Get() const
{
    qsizetype length = 0;
    while (length < N && units[length] != 0)
        ++length;
    return QString(reinterpret_cast<const QChar *>(units.data()), length);
}

template <int N>
void FixedText<N>::Set(QStringView text)
{
    units.fill(0);
    const qsizetype length = qMin<qsizetype>(text.size(), N - 1);
    for (qsizetype i = 0; i < length; ++i)
        units[i] = text[i].unicode();
}

} // namespace tamblin
