// printf-style formatting of cell texts ("%04d", "%4u", "%s", "%d.%s").
//
// Arguments keep their type and width, so "%u" of a negative 32-bit value
// prints what a 32-bit unsigned would, and "%s" takes wide text; a conversion
// without a matching argument prints nothing.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <concepts>
#include <cstdint>

namespace tamblin {

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Real, Text };

    template <std::integral T>
    FormatArg(T v) // NOLINT(google-explicit-constructor): used in argument lists
        : m_kind(std::is_signed_v<T> ? Kind::Signed : Kind::Unsigned), m_bits(int(sizeof(T) * 8))
    {
        if constexpr (std::is_signed_v<T>)
            m_int = v;
        else
            m_uint = v;
    }
    FormatArg(double v) : m_kind(Kind::Real), m_real(v) {}
    FormatArg(const QString &v) : m_kind(Kind::Text), m_text(v) {}
    FormatArg(QStringView v) : m_kind(Kind::Text), m_text(v.toString()) {}

    Kind kind() const { return m_kind; }
    // The value as printf would see it for a signed or unsigned conversion.
    qint64 AsSigned() const;
    quint64 AsUnsigned() const;
    double AsReal() const;
    QString AsText() const;

private:
    Kind m_kind;
    int m_bits = 64;
    qint64 m_int = 0;
    quint64 m_uint = 0;
    double m_real = 0;
    QString m_text;
};

QString FormatText(QStringView format, const QList<FormatArg> &args);

template <typename... Args>
QString Format(QStringView format, const Args &...args)
{
    return FormatText(format, QList<FormatArg>{FormatArg(args)...});
}

} // namespace tamblin
