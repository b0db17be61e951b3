#include "LoginDialog.h"
#include "Environment.h"
#include "OdbcConnection.h"
#include "OffThread.h"
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QEventLoop>
#include <QPointer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QVBoxLayout>
#include <memory>
#include <thread>

namespace vireo {

namespace {
// The password scripts/demo hands over, taken out of the environment when first asked for.
const QString &demoLoginPassword()
{
    static const QString password = takeEnvironmentSecret("VIREO_DEMO_PASSWORD");
    return password;
}

QSettings loginSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vireo"), QStringLiteral("VireoLogin"));
}
} // namespace

LoginDialog::LoginDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(QStringLiteral("登录"));
    setModal(true);

    auto *title = new QLabel(QStringLiteral("Vireo数据体检工具 — 登录账套"), this);
    QFont tf = title->font();
    tf.setBold(true);
    tf.setPointSizeF(tf.pointSizeF() * 1.2);
    title->setFont(tf);

    auto make = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setMinimumWidth(220);
        return e;
    };
    serverBox = make("serverBox");
    serverBox->setPlaceholderText(QStringLiteral("主机、主机,端口 或 主机\\实例"));
    accountBox = make("accountBox");
    accountBox->setPlaceholderText(QStringLiteral("例如 001"));
    accountBox->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Za-z]{1,10}")), this));
    yearBox = make("yearBox");
    yearBox->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{4}")), this));
    operatorBox = make("operatorBox");
    passwordBox = make("passwordBox");
    passwordBox->setEchoMode(QLineEdit::Password);
    databaseBox = new QComboBox(this);
    databaseBox->setObjectName(QStringLiteral("databaseBox"));
    databaseBox->setPlaceholderText(QStringLiteral("填写服务器和 SA 密码后列出"));
    databaseBox->setEnabled(false);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("服务器："), serverBox);
    form->addRow(QStringLiteral("账套号："), accountBox);
    form->addRow(QStringLiteral("会计年度："), yearBox);
    form->addRow(QStringLiteral("操作员："), operatorBox);
    form->addRow(QStringLiteral("SA 密码："), passwordBox);
    form->addRow(QStringLiteral("账套数据库："), databaseBox);

    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    errorLabel = new QLabel(this);
    errorLabel->setObjectName(QStringLiteral("errorLabel"));
    errorLabel->setWordWrap(true);
    errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
    errorLabel->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);

    auto *column = new QVBoxLayout(this);
    column->addWidget(title);
    column->addLayout(form);
    column->addWidget(errorLabel);
    column->addLayout(buttons);

    QSettings s = loginSettings();
    serverBox->setText(s.value(QStringLiteral("server"), QStringLiteral("127.0.0.1")).toString());
    accountBox->setText(s.value(QStringLiteral("account")).toString());
    yearBox->setText(s.value(QStringLiteral("year"), QString::number(QDate::currentDate().year())).toString());
    operatorBox->setText(s.value(QStringLiteral("operator")).toString());

    // scripts/demo fills the dialog in for its local stand-in server.
    const QString demoPassword = demoLoginPassword();
    const std::pair<const char *, QLineEdit *> demo[] = {{"VIREO_DEMO_SERVER", serverBox},
        {"VIREO_DEMO_ACCOUNT", accountBox}, {"VIREO_DEMO_YEAR", yearBox}, {"VIREO_DEMO_OPERATOR", operatorBox}};
    for (const auto &[name, edit] : demo) {
        if (qEnvironmentVariableIsSet(name))
            edit->setText(qEnvironmentVariable(name));
    }
    if (!demoPassword.isEmpty())
        passwordBox->setText(demoPassword);

    for (QLineEdit *e : {serverBox, accountBox, yearBox})
        connect(e, &QLineEdit::textChanged, this, &LoginDialog::updateOk);
    connect(okButton, &QPushButton::clicked, this, &LoginDialog::tryAccept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    listDatabases = [](const db::AccountParams &server) {
        const auto conn = db::OdbcConnection::open(server, 5, false);
        return listAccountDatabases(conn.get());
    };
    for (QLineEdit *e : {serverBox, passwordBox})
        connect(e, &QLineEdit::editingFinished, this, &LoginDialog::lookupDatabases);
    for (QLineEdit *e : {accountBox, yearBox})
        connect(e, &QLineEdit::textChanged, this, &LoginDialog::selectListedDatabase);
    connect(databaseBox, &QComboBox::activated, this, [this](int index) {
        accountBox->setText(databaseBox->itemData(index, Qt::UserRole).toString());
        yearBox->setText(databaseBox->itemData(index, Qt::UserRole + 1).toString());
    });
    // Filled in already (the demo): the list is asked for at once.
    QMetaObject::invokeMethod(this, &LoginDialog::lookupDatabases, Qt::QueuedConnection);
    updateOk();
    (accountBox->text().isEmpty() ? accountBox : passwordBox)->setFocus();
}

QString LoginDialog::server() const { return serverBox->text().trimmed(); }
QString LoginDialog::account() const { return accountBox->text().trimmed(); }
QString LoginDialog::year() const { return yearBox->text().trimmed(); }
QString LoginDialog::operatorName() const { return operatorBox->text().trimmed(); }
QString LoginDialog::password() const { return passwordBox->text(); }

void LoginDialog::remember() const
{
    QSettings s = loginSettings();
    s.setValue(QStringLiteral("server"), server());
    s.setValue(QStringLiteral("account"), account());
    s.setValue(QStringLiteral("year"), year());
    s.setValue(QStringLiteral("operator"), operatorName());
}

void LoginDialog::lookupDatabases()
{
    const size_t passwordHash = qHash(password());
    if (!listDatabases || server().isEmpty() || password().isEmpty()
        || (server() == m_lookedUpServer && passwordHash == m_lookedUpPassword))
        return;
    m_lookedUpServer = server();
    m_lookedUpPassword = passwordHash;
    const quint64 ticket = ++m_lookup;
    db::AccountParams p;
    p.server = server();
    p.database = QStringLiteral("master");
    p.password = password();
    databaseBox->clear();
    databaseBox->setEnabled(false);
    databaseBox->setPlaceholderText(QStringLiteral("正在读取服务器上的账套…"));
    databaseBox->setToolTip(QString());
    // A slow or silent server answers late or never; the dialog does not wait for it.
    QPointer<LoginDialog> self(this);
    std::thread([self, ticket, p, list = listDatabases] {
        const DetachedCall running;
        std::vector<AccountDatabase> found;
        QString error;
        try {
            found = list(p);
        } catch (const db::DbError &e) {
            error = e.message().isEmpty() ? QStringLiteral("连接失败") : e.message();
        } catch (...) {
            error = QStringLiteral("连接失败");
        }
        QMetaObject::invokeMethod(qApp, [self, ticket, found = std::move(found), error] {
            if (self)
                self->showDatabases(ticket, found, error);
        }, Qt::QueuedConnection);
    }).detach();
}

void LoginDialog::showDatabases(quint64 ticket, const std::vector<AccountDatabase> &found, const QString &error)
{
    if (ticket != m_lookup)
        return;
    databaseBox->clear();
    if (!error.isEmpty()) {
        // Typed again, the same server and password are asked once more.
        m_lookedUpServer.clear();
        databaseBox->setPlaceholderText(QStringLiteral("无法读取账套列表"));
        databaseBox->setToolTip(error);
        return;
    }
    for (const AccountDatabase &d : found) {
        databaseBox->addItem(QStringLiteral("%1（%2 年度）").arg(d.account, d.year));
        databaseBox->setItemData(databaseBox->count() - 1, d.account, Qt::UserRole);
        databaseBox->setItemData(databaseBox->count() - 1, d.year, Qt::UserRole + 1);
        databaseBox->setItemData(databaseBox->count() - 1, d.name, Qt::ToolTipRole);
    }
    databaseBox->setEnabled(!found.empty());
    databaseBox->setPlaceholderText(found.empty() ? QStringLiteral("服务器上没有账套数据库")
                                                  : QStringLiteral("请选择（共 %1 个）").arg(found.size()));
    selectListedDatabase();
}

void LoginDialog::selectListedDatabase()
{
    int match = -1;
    for (int i = 0; i < databaseBox->count(); ++i)
        if (databaseBox->itemData(i, Qt::UserRole).toString() == account()
            && databaseBox->itemData(i, Qt::UserRole + 1).toString() == year())
            match = i;
    databaseBox->setCurrentIndex(match);
}

void LoginDialog::updateOk()
{
    okButton->setEnabled(!server().isEmpty() && !account().isEmpty() && year().size() == 4);
}

void LoginDialog::tryAccept()
{
    if (checkLogin) {
        db::AccountParams p;
        p.server = server();
        p.database = QStringLiteral("QZdata_") + account() + QLatin1Char('_') + year();
        p.user = QStringLiteral("SA");
        p.password = password();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        okButton->setEnabled(false);
        const QString why = checkLogin(p);
        updateOk();
        QApplication::restoreOverrideCursor();
        // Closed while the trial login waited: the close stands.
        if (!isVisible())
            return;
        if (!why.isEmpty()) {
            errorLabel->setText(QStringLiteral("无法登录账套数据库：") + why);
            errorLabel->show();
            passwordBox->clear();
            passwordBox->setFocus();
            return;
        }
    }
    accept();
}

void DialogLoginComponent::login(const QString &)
{
    LoginDialog dialog(QApplication::activeWindow());
    dialog.checkLogin = m_check;
    if (dialog.exec() != QDialog::Accepted) {
        m_state = 100;
        return;
    }
    dialog.remember();
    m_server = dialog.server();
    m_account = dialog.account();
    m_year = dialog.year();
    m_operator = dialog.operatorName();
    m_password = dialog.password();
    m_state = 1;
}

QString DialogLoginComponent::QzDbName()
{
    return QStringLiteral("QZdata_") + m_account + QLatin1Char('_') + m_year;
}

void registerBuiltInLogin()
{
    demoLoginPassword();   // out of the environment before anything else can read it
    // The dialog logs in once to learn whether the account can be opened; the login then opens
    // the account connection itself.
    // The trial login runs on a thread of its own, so the dialog keeps repainting while it waits.
    const auto check = [](const db::AccountParams &p) -> QString {
        QEventLoop loop;
        const auto why = runOffThread([p]() -> QString {
            try {
                db::OdbcConnection::open(p);   // closed again on that thread
                return {};
            } catch (const db::DbError &e) {
                return e.message().isEmpty() ? QStringLiteral("连接失败") : e.message();
            }
        }, loop);
        return why ? *why : QStringLiteral("连接失败");
    };
    LoginRegistry::registerProgId(kPrimaryLoginProgId, [check] { return std::make_unique<DialogLoginComponent>(check); });
}

} // namespace vireo
