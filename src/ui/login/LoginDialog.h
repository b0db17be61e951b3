#pragma once
#include "LoginComponent.h"
#include "OdbcConnection.h"
#include "QueryHelpers.h"
#include <QDialog>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vireo {

// The built-in login dialog: server, account number, fiscal year, operator and SA password.
// It remembers the last server, account, year and operator; never the password.
class LoginDialog : public QDialog {
    Q_OBJECT
public:
    explicit LoginDialog(QWidget *parent = nullptr);

    QString server() const;
    QString account() const;
    QString year() const;
    QString operatorName() const;
    QString password() const;

    // Stores the fields a later login starts from (not the password).
    void remember() const;

    // Tries the login that OK would accept: empty when it works, otherwise the server's reason,
    // which the dialog shows while it stays open with the password cleared. Unset: OK accepts.
    std::function<QString(const db::AccountParams &)> checkLogin;

    // Reads the account databases of a server (connected to master); runs on a thread of its own.
    // Throws db::DbError when the server cannot be reached. Defaults to the real server.
    std::function<std::vector<AccountDatabase>(const db::AccountParams &server)> listDatabases;

    // Asks the server typed for its account databases, once server and password are entered; the
    // answer fills the 账套数据库 choices when it comes, the dialog stays usable meanwhile.
    void lookupDatabases();

private:
    void updateOk();
    void tryAccept();
    void showDatabases(quint64 ticket, const std::vector<AccountDatabase> &found, const QString &error);
    void selectListedDatabase();

    QLineEdit *serverBox;
    QLineEdit *accountBox;
    QLineEdit *yearBox;
    QLineEdit *operatorBox;
    QLineEdit *passwordBox;
    QComboBox *databaseBox;
    quint64 m_lookup = 0;          // number of the newest lookup; older answers are dropped
    QString m_lookedUpServer;
    size_t m_lookedUpPassword = 0; // hash of the password the newest lookup used
    QLabel *errorLabel;
    QPushButton *okButton;
    QPushButton *cancelButton;
};

// The login component the user meets: login shows LoginDialog; OK logs in once checkLogin accepts
// the account, Cancel leaves LogState 100.
class DialogLoginComponent : public LoginComponent {
public:
    explicit DialogLoginComponent(std::function<QString(const db::AccountParams &)> checkLogin = {})
        : m_check(std::move(checkLogin))
    {
    }
    void login(const QString &arg) override;
    int LogState() override { return m_state; }
    void ClearError() override {}
    QString QzDbName() override;
    void ShutDown() override {}
    QString cserver() override { return m_server; }
    QString cacc_id() override { return m_account; }
    QString cIYear() override { return m_year; }
    QString SysPassword() override { return m_password; }
    QString CuserId() override { return m_operator; }

private:
    std::function<QString(const db::AccountParams &)> m_check;
    int m_state = 100;
    QString m_server, m_account, m_year, m_operator, m_password;
};

} // namespace vireo
