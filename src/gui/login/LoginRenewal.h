// A Weibo login renewed without asking the user. The login cookie (SUB)
// lives one to seven days; a browser that logged in with 下次自动登录 also
// keeps a long-lived passport cookie (ALF), and the next time it opens
// weibo.com, passport gives it a fresh SUB. This does the same in a hidden
// page of the login browser's profile; the cookie bridge brings the new
// cookies into the store.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QWebEnginePage;

namespace tamblin {

class WeiboLoginRenewal : public QObject {
    Q_OBJECT

public:
    // True when the login browser can run here and its profile holds a
    // former Weibo login that passport can renew (a live ALF cookie).
    static bool CanRenew();

    explicit WeiboLoginRenewal(QObject *parent = nullptr);
    ~WeiboLoginRenewal() override;

    // Loads https://weibo.com/ once; finished() follows when the page has
    // settled, or after 20 s at most.
    void Start();

signals:
    // `renewed`: the store now holds a live Weibo login cookie it did not
    // hold before.
    void finished(bool renewed);

private:
    void Finish();

    QWebEnginePage *m_page = nullptr;
    QString m_loginBefore;
    QTimer m_settle;
    QTimer m_deadline;
    bool m_done = false;
};

} // namespace tamblin
