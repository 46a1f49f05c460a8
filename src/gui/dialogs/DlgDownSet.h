// "下载参数设置": thread count, time-out and picture size limits of one site.
#pragma once

#include "app/SoftSettings.h"
#include "download/DateRange.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QLineEdit;

namespace tamblin {

// Edits one element of SoftSettings::downParams in place; the caller keeps
// ownership and saves the settings only after an Accepted result. Given a
// date range, the dialog also offers its two ends below, each one on or off
// (off: no limit that way); the range is stored only when the dialog is
// accepted.
class CDlgDownSet : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        kIdMinKb = 1000,
        kIdMaxKb = 1001,
        kIdThreads = 1002,
        kIdTimeout = 1003,
        kIdOk = 1023,
        kIdSinceOn = 1024,
        kIdSince = 1025,
        kIdUntilOn = 1026,
        kIdUntil = 1027,
    };

    CDlgDownSet(QWidget *parent, DownParams *params, DateRange *range = nullptr);

private:
    void AddRangeFields();
    void OnOk();

    DownParams *m_params;
    DateRange *m_range;
    QCheckBox *m_sinceOn = nullptr;
    QDateEdit *m_since = nullptr;
    QCheckBox *m_untilOn = nullptr;
    QDateEdit *m_until = nullptr;
    QLineEdit *m_threads;
    QLineEdit *m_timeout;
    QLineEdit *m_minKb;
    QLineEdit *m_maxKb;
};

} // namespace tamblin
