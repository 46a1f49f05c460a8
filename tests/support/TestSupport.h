// Helpers shared by the tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <iosfwd>

// GoogleTest prints these in failure messages.
QT_BEGIN_NAMESPACE
void PrintTo(const QString &text, std::ostream *os);
void PrintTo(const QByteArray &bytes, std::ostream *os);
QT_END_NAMESPACE

namespace tamblin::test {

// A temporary folder removed with its contents at the end of the test.
class TempDir {
public:
    TempDir();
    // The folder, ending in the native separator as m_appDir does.
    QString Path() const;
    // Path() + name.
    QString File(const QString &name) const;
    QByteArray Read(const QString &name) const;
    void Write(const QString &name, const QByteArray &bytes) const;

private:
    QTemporaryDir m_dir;
};

// The source tree (for data files of the tests) and the folder where tests
// leave files for a person to look at (screenshots).
QString SourceDir();
QString TestOutputDir();

} // namespace tamblin::test
