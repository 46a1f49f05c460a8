// A list run on a fresh core for the end-to-end tests.
#pragma once

#include "RecordingWindow.h"
#include "TestSupport.h"

#include "app/SoftSettings.h"
#include "app/TamblinCore.h"
#include "net/CookieStore.h"
#include "sources/SourceSupport.h"
#include "sources/ListDriver.h"
#include "sources/ListTexts.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace tamblin::test {

using namespace Qt::StringLiterals;

inline const QString kSep = QDir::separator();
inline const QString kLoginHint = QString::fromUtf16(texts::kLoginHint);

// One list run on a fresh core whose start folder is a temporary folder.
struct ListRun {
    explicit ListRun(RecordingWindow *customWindow = nullptr)
        : window(customWindow ? customWindow : &ownWindow)
        , core(window)
    {
        core.m_appDir = dir.Path();
        core.m_ready = 1;
        // No cookie of the user's own store reaches the fake service.
        CookieStore::Instance().SetFilePath(QString());
        CookieStore::Instance().Clear();
    }

    // As the get-albums button starts it, but on this thread.
    void Run(const QString &address)
    {
        window->SetAddress(address);
        core.m_albums.Clear();
        core.m_listState = 1;
        core.m_subMode = kSubModeNone;
        GetListFunc(core);
    }

    QStringList Names() const
    {
        QStringList names;
        for (const auto &album : core.m_albums.items)
            names.append(album->name);
        return names;
    }

    const ST_PERLISTRECORD &Album(int i) const { return *core.m_albums.items.at(std::size_t(i)); }

    QString SavedHistory(int entry) const
    {
        return SoftSettings::FromBytes(dir.Read(u"soft.dat"_s)).addressHistory.at(std::size_t(entry)).Get();
    }

    TempDir dir;
    RecordingWindow ownWindow;
    RecordingWindow *window;
    TamblinCore core;
};

// Text that a name cleaned for the file system never holds.
inline bool IsSafeName(const QString &name)
{
    static const QRegularExpression kUnsafe(u"[\\\\/:*?\"<>|\\r\\n\\t\\x{7}]"_s);
    return !name.isEmpty() && !name.contains(kUnsafe) && !name.startsWith(u'.') && !name.endsWith(u'.')
        && name != u"."_s && name != u".."_s;
}

} // namespace tamblin::test
