// The About box: caption "关于", the version line and an information line
// from the stored texts.
#pragma once

#include <QDialog>

namespace tamblin {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        kIdVersion = 1014,
        kIdInfo = 1015,
        kIdOk = 1,
    };

    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace tamblin
