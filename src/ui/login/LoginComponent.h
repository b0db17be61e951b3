#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

namespace vireo {

// The ERP login component: what loginAccount calls on it. Any member may throw; the login skips
// a failing step and goes on.
class LoginComponent {
public:
    virtual ~LoginComponent() = default;
    virtual void login(const QString &arg) = 0;
    virtual int LogState() = 0;           // 100: not logged in
    virtual void ClearError() = 0;
    virtual QString QzDbName() = 0;
    virtual void ShutDown() = 0;          // the properties below still answer after it
    virtual QString cserver() = 0;
    virtual QString cacc_id() = 0;
    virtual QString cIYear() = 0;
    virtual QString SysPassword() = 0;
    virtual QString CuserId() = 0;
};

// A component that cannot be created; number is the automation error it stands for
// (429 cannot create, 91 no object, 438 member not supported).
class ComponentError : public std::runtime_error {
public:
    explicit ComponentError(int number);
    int number() const { return m_number; }

private:
    int m_number;
};

// The ProgIDs loginAccount tries, in order.
inline const QString kPrimaryLoginProgId = QStringLiteral("QZLoginSQL.Login");
inline const QString kSecondaryLoginProgId = QStringLiteral("HaldenLogin.clsLogin");

// Components by ProgID. A factory may throw ComponentError; one that returns null fails with 91.
class LoginRegistry {
public:
    using Factory = std::function<std::unique_ptr<LoginComponent>()>;
    static void registerProgId(const QString &progId, Factory factory);
    static void unregisterProgId(const QString &progId);
    static void clear();
    // The component, or null with error set to the creation failure (429 when nothing provides it).
    static std::unique_ptr<LoginComponent> create(const QString &progId, int &error);
};

// Registers the built-in login dialog under the primary ProgID. Its OK tries the login and, when
// the server refuses it, keeps the dialog open with the server's reason.
void registerBuiltInLogin();

// The ERP database component: receives the database-name text and keeps it.
class ErpDatabase {
public:
    void open(const QString &dbName) { m_name = dbName; }
    const QString &name() const { return m_name; }

private:
    QString m_name;
};

} // namespace vireo
