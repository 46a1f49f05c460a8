
#include "grid/GridFormat.h"

namespace tamblin {

qint64 FormatArg::AsSigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return m_int;
    case Kind::Unsigned:
        // Reinterpreted at the argument's own width, as a vararg would be.
        switch (m_bits) {
        case 8: return qint8(m_uint);
        case 16: return qint16(m_uint);
        case 32: return qint32(m_uint);
        default: return qint64(m_uint);
        }
    case Kind::Real:
        return qint64(m_real);
    case Kind::Text:
        return m_text.toLongLong();
    }
    return 0;
}

quint64 FormatArg::AsUnsigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        switch (m_bits) {
        case 8: return quint8(m_int);
        case 16: return quint16(m_int);
        case 32: return quint32(m_int);
        default: return quint64(m_int);
        }
    case Kind::Unsigned:
        return m_uint;
    case Kind::Real:
        return quint64(qint64(m_real));
    case Kind::Text:
        return m_text.toULongLong();
    }
    return 0;
}

double FormatArg::AsReal() const
{
    switch (m_kind) {
    case Kind::Signed: return double(m_int);
    case Kind::Unsigned: return double(m_uint);
    case Kind::Real: return m_real;
    case Kind::Text: return m_text.toDouble();
    }
    return 0;
}

QString FormatArg::AsText() const
{
    switch (m_kind) {
    case Kind::Signed: return QString::number(m_int);
    case Kind::Unsigned: return QString::number(m_uint);
    case Kind::Real: return QString::number(m_real);
    case Kind::Text: return m_text;
    }
    return {};
}

QString FormatText(QStringView format, const QList<FormatArg> &args)
{
    QString out;
    out.reserve(format.size() + 16);
    qsizetype next = 0;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i + 1 < n && format[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        // %[flags][width][.precision][length]conversion
        const qsizetype start = i;
        qsizetype j = i + 1;
        QByteArray directive("%");
        bool leftAlign = false;
        while (j < n && QStringView(u"-+ #0").contains(format[j])) {
            leftAlign = leftAlign || format[j] == u'-';
            directive += char(format[j].unicode());
            ++j;
        }
        int width = 0;
        while (j < n && format[j].isDigit() && width < 10000) {
            width = width * 10 + format[j].digitValue();
            directive += char(format[j].unicode());
            ++j;
        }
        int precision = -1;
        if (j < n && format[j] == u'.') {
            directive += '.';
            precision = 0;
            ++j;
            while (j < n && format[j].isDigit() && precision < 10000) {
                precision = precision * 10 + format[j].digitValue();
                directive += char(format[j].unicode());
                ++j;
            }
        }
        // Sizes come from the arguments themselves.
        while (j < n && QStringView(u"hlLqjzt").contains(format[j]))
            ++j;
        if (j + 2 < n && format[j] == u'I' && format[j + 1] == u'6' && format[j + 2] == u'4')
            j += 3;
        if (j >= n) {
            out += format.sliced(start);
            break;
        }
        const char conv = char(format[j].unicode() < 128 ? format[j].unicode() : '?');
        i = j;
        const FormatArg *arg = next < args.size() ? &args[next] : nullptr;
        switch (conv) {
        case 'd':
        case 'i':
            ++next;
            if (arg)
                out += QString::asprintf((directive + "lld").constData(), static_cast<long long>(arg->AsSigned()));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            ++next;
            if (arg)
                out += QString::asprintf((directive + "ll" + conv).constData(),
                                         static_cast<unsigned long long>(arg->AsUnsigned()));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            ++next;
            if (arg)
                out += QString::asprintf((directive + conv).constData(), arg->AsReal());
            break;
        case 'c':
        case 's':
        case 'S': {
            ++next;
            if (!arg)
                break;
            QString text;
            if (conv == 'c')
                text = arg->kind() == FormatArg::Kind::Text ? arg->AsText().left(1)
                                                            : QString(QChar(char16_t(arg->AsUnsigned())));
            else
                text = arg->AsText();
            if (precision >= 0 && conv != 'c')
                text.truncate(precision);
            if (text.size() < width)
                text = leftAlign ? text.leftJustified(width) : text.rightJustified(width);
            out += text;
            break;
        }
        default:
            // Unknown conversion: keep it as written.
            out += format.sliced(start, j - start + 1);
            break;
        }
    }
    return out;
}

} // namespace tamblin
