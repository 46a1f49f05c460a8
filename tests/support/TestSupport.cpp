#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <ostream>

QT_BEGIN_NAMESPACE
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << '"';
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            *os << c;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            *os << "\\x" << hex[b >> 4] << hex[b & 15];
        }
    }
    *os << '"';
}
QT_END_NAMESPACE

namespace tamblin::test {

TempDir::TempDir()
{
    EXPECT_TRUE(m_dir.isValid()) << m_dir.errorString().toStdString();
}

QString TempDir::Path() const
{
    return QDir::toNativeSeparators(m_dir.path()) + QDir::separator();
}

QString TempDir::File(const QString &name) const
{
    return Path() + name;
}

QByteArray TempDir::Read(const QString &name) const
{
    QFile f(File(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void TempDir::Write(const QString &name, const QByteArray &bytes) const
{
    QFile f(File(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << name.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QString SourceDir()
{
    return qEnvironmentVariable("TAMBLIN_SOURCE_DIR", QStringLiteral(TAMBLIN_SOURCE_DIR_DEFAULT));
}

QString TestOutputDir()
{
    const QString dir = qEnvironmentVariable("TAMBLIN_TEST_OUTPUT", QStringLiteral(TAMBLIN_TEST_OUTPUT_DEFAULT));
    QDir().mkpath(dir);
    return dir;
}

} // namespace tamblin::test
