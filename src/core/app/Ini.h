// Reads values from an INI file as a Windows user writes it with Notepad.
//
// The file is read afresh on every call, as profile reads do. Encodings:
// UTF-16LE with a byte-order mark, UTF-8 with or without one, otherwise GBK.
// Section and key names match without regard to case; the first matching
// section and key win; values are trimmed and lose one pair of enclosing
// quotes.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>

namespace tamblin {

class CIni {
public:
    explicit CIni(const QString &path) : m_path(path) {}

    const QString &Path() const { return m_path; }

    // The value, or `defaultValue` when the file, the section or the key is
    // missing. A key written with an empty value gives an empty text.
    QString GetString(const QString &section, const QString &key, const QString &defaultValue) const;

    // The value read as an unsigned 32-bit decimal number, as strtoul reads
    // it: "-5" gives the bit pattern of -5, an overflow gives all ones, text
    // without digits 0. A missing or empty value gives `defaultValue`.
    std::int32_t GetInt(const QString &section, const QString &key, std::int32_t defaultValue) const;

    // The text of an INI file's bytes.
    static QString Decode(QByteArrayView bytes);
    // What GetInt makes of a value.
    static std::uint32_t ParseUnsigned(QStringView text);

private:
    bool Find(const QString &section, const QString &key, QString &value) const;

    QString m_path;
};

} // namespace tamblin
