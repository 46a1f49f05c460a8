// "文件名设置": prefixes, suffixes, the replacement pair and the naming
// choices of one site, with the help text on escape codes.
#pragma once

#include "app/SoftSettings.h"

#include <QDialog>

class QButtonGroup;
class QLineEdit;

namespace tamblin {

// Edits one element of SoftSettings::siteRules in place (its flags are left
// alone); the caller saves the settings only after an Accepted result.
class CDlgSaveSet : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        kIdFilePrefix = 1000,
        kIdFileSuffix = 1001,
        kIdFolderPrefix = 1002,
        kIdFolderSuffix = 1003,
        kIdHelpLink = 1010,
        kIdNameDescription = 1016,
        kIdNameNumber = 1017,
        kIdNameAddress = 1018,
        kIdFolderAlbumName = 1019,
        kIdFolderNone = 1020,
        kIdReplaceFrom = 1021,
        kIdReplaceTo = 1022,
        kIdOk = 1023,
    };

    // Longest text a field keeps: its buffer holds 39 units with the NUL.
    static constexpr int kMaxTextUnits = 38;

    CDlgSaveSet(QWidget *parent, SiteRules *rules);

    // The help shown by the link, line by line.
    static QString HelpText();

private:
    void OnOk();

    SiteRules *m_rules;
    QLineEdit *m_filePrefix;
    QLineEdit *m_fileSuffix;
    QLineEdit *m_replaceFrom;
    QLineEdit *m_replaceTo;
    QLineEdit *m_folderPrefix;
    QLineEdit *m_folderSuffix;
    QButtonGroup *m_fileNameMode;
    QButtonGroup *m_folderNameMode;
};

} // namespace tamblin
