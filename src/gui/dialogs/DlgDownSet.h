// "下载参数设置": thread count, time-out and picture size limits of one site.
#pragma once

#include "app/SoftSettings.h"

#include <QDialog>

class QLineEdit;

namespace tamblin {

// Edits one element of SoftSettings::downParams in place; the caller keeps
// ownership and saves the settings only after an Accepted result.
class CDlgDownSet : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        kIdMinKb = 1000,
        kIdMaxKb = 1001,
        kIdThreads = 1002,
        kIdTimeout = 1003,
        kIdOk = 1023,
    };

    CDlgDownSet(QWidget *parent, DownParams *params);

private:
    void OnOk();

    DownParams *m_params;
    QLineEdit *m_threads;
    QLineEdit *m_timeout;
    QLineEdit *m_minKb;
    QLineEdit *m_maxKb;
};

} // namespace tamblin
