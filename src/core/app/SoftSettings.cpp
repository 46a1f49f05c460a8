#include "app/SoftSettings.h"

#include <QtEndian>

namespace tamblin {

namespace {

constexpr qsizetype kDownParamsSize = 8;
constexpr qsizetype kSiteRulesSize = 484;
constexpr qsizetype kHistorySize = 2 * kHistoryUnits;

static_assert(kSiteSlots * kDownParamsSize + kSiteSlots * kSiteRulesSize
                  + 2 * kHistoryEntries * kHistorySize
              == kSoftSettingsSize);

class Writer {
public:
    Writer() : m_bytes(kSoftSettingsSize, '\0') {}

    void U8(std::uint8_t v) { m_bytes[m_pos++] = char(v); }
    void U16(std::uint16_t v)
    {
        qToLittleEndian(v, m_bytes.data() + m_pos);
        m_pos += 2;
    }
    template <int N>
    void Text(const FixedText<N> &text)
    {
        for (char16_t unit : text.units)
            U16(unit);
    }
    QByteArray Take()
    {
        Q_ASSERT(m_pos == kSoftSettingsSize);
        return std::move(m_bytes);
    }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

// Reads from a zero-padded copy of the image, so a short image reads as
// if its missing tail were zero.
class Reader {
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(kSoftSettingsSize, '\0')
    {
        const qsizetype n = qMin(bytes.size(), kSoftSettingsSize);
        if (n > 0)
            memcpy(m_bytes.data(), bytes.data(), size_t(n));
    }

    std::uint8_t U8() { return std::uint8_t(m_bytes[m_pos++]); }
    std::uint16_t U16()
    {
        const auto v = qFromLittleEndian<std::uint16_t>(m_bytes.constData() + m_pos);
        m_pos += 2;
        return v;
    }
    template <int N>
    void Text(FixedText<N> &text)
    {
        for (char16_t &unit : text.units)
            unit = U16();
    }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

} // namespace

QByteArray SoftSettings::ToBytes() const
{
    Writer w;
    for (const DownParams &p : downParams) {
        w.U16(p.minKb);
        w.U16(p.maxKb);
        w.U16(p.threads);
        w.U16(p.timeoutSec);
    }
    for (const SiteRules &r : siteRules) {
        w.Text(r.filePrefix);
        w.Text(r.fileSuffix);
        w.Text(r.replaceFrom);
        w.Text(r.replaceTo);
        w.Text(r.folderPrefix);
        w.Text(r.folderSuffix);
        w.U16(r.flags);
        w.U8(r.fileNameMode);
        w.U8(r.folderNameMode);
    }
    for (const auto &entry : addressHistory)
        w.Text(entry);
    for (const auto &entry : savePathHistory)
        w.Text(entry);
    return w.Take();
}

SoftSettings SoftSettings::FromBytes(QByteArrayView bytes)
{
    SoftSettings s;
    Reader r(bytes);
    for (DownParams &p : s.downParams) {
        p.minKb = r.U16();
        p.maxKb = r.U16();
        p.threads = r.U16();
        p.timeoutSec = r.U16();
    }
    for (SiteRules &rules : s.siteRules) {
        r.Text(rules.filePrefix);
        r.Text(rules.fileSuffix);
        r.Text(rules.replaceFrom);
        r.Text(rules.replaceTo);
        r.Text(rules.folderPrefix);
        r.Text(rules.folderSuffix);
        rules.flags = r.U16();
        rules.fileNameMode = r.U8();
        rules.folderNameMode = r.U8();
    }
    for (auto &entry : s.addressHistory)
        r.Text(entry);
    for (auto &entry : s.savePathHistory)
        r.Text(entry);
    return s;
}

} // namespace tamblin
