#include "FrmLogin.h"
#include "Environment.h"
#include "OdbcConnection.h"
#include "OffThread.h"
#include <QApplication>
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

FrmLogin::FrmLogin(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmLogin"));
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
    txtServer = make("txtServer");
    txtServer->setPlaceholderText(QStringLiteral("主机、主机,端口 或 主机\\实例"));
    txtAccount = make("txtAccount");
    txtAccount->setPlaceholderText(QStringLiteral("例如 001"));
    txtAccount->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Za-z]{1,10}")), this));
    txtYear = make("txtYear");
    txtYear->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{4}")), this));
    txtOperator = make("txtOperator");
    txtPassword = make("txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("服务器："), txtServer);
    form->addRow(QStringLiteral("账套号："), txtAccount);
    form->addRow(QStringLiteral("会计年度："), txtYear);
    form->addRow(QStringLiteral("操作员："), txtOperator);
    form->addRow(QStringLiteral("SA 密码："), txtPassword);

    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    labError = new QLabel(this);
    labError->setObjectName(QStringLiteral("labError"));
    labError->setWordWrap(true);
    labError->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labError->setStyleSheet(QStringLiteral("color: #b00000;"));
    labError->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto *column = new QVBoxLayout(this);
    column->addWidget(title);
    column->addLayout(form);
    column->addWidget(labError);
    column->addLayout(buttons);

    QSettings s = loginSettings();
    txtServer->setText(s.value(QStringLiteral("server"), QStringLiteral("127.0.0.1")).toString());
    txtAccount->setText(s.value(QStringLiteral("account")).toString());
    txtYear->setText(s.value(QStringLiteral("year"), QString::number(QDate::currentDate().year())).toString());
    txtOperator->setText(s.value(QStringLiteral("operator")).toString());

    // scripts/demo fills the dialog in for its local stand-in server.
    const QString demoPassword = demoLoginPassword();
    const std::pair<const char *, QLineEdit *> demo[] = {{"VIREO_DEMO_SERVER", txtServer},
        {"VIREO_DEMO_ACCOUNT", txtAccount}, {"VIREO_DEMO_YEAR", txtYear}, {"VIREO_DEMO_OPERATOR", txtOperator}};
    for (const auto &[name, edit] : demo) {
        if (qEnvironmentVariableIsSet(name))
            edit->setText(qEnvironmentVariable(name));
    }
    if (!demoPassword.isEmpty())
        txtPassword->setText(demoPassword);

    for (QLineEdit *e : {txtServer, txtAccount, txtYear})
        connect(e, &QLineEdit::textChanged, this, &FrmLogin::updateOk);
    connect(cmdOK, &QPushButton::clicked, this, &FrmLogin::tryAccept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    updateOk();
    (txtAccount->text().isEmpty() ? txtAccount : txtPassword)->setFocus();
}

QString FrmLogin::server() const { return txtServer->text().trimmed(); }
QString FrmLogin::account() const { return txtAccount->text().trimmed(); }
QString FrmLogin::year() const { return txtYear->text().trimmed(); }
QString FrmLogin::operatorName() const { return txtOperator->text().trimmed(); }
QString FrmLogin::password() const { return txtPassword->text(); }

void FrmLogin::remember() const
{
    QSettings s = loginSettings();
    s.setValue(QStringLiteral("server"), server());
    s.setValue(QStringLiteral("account"), account());
    s.setValue(QStringLiteral("year"), year());
    s.setValue(QStringLiteral("operator"), operatorName());
}

void FrmLogin::updateOk()
{
    cmdOK->setEnabled(!server().isEmpty() && !account().isEmpty() && year().size() == 4);
}

void FrmLogin::tryAccept()
{
    if (checkLogin) {
        db::AccountParams p;
        p.server = server();
        p.database = QStringLiteral("QZdata_") + account() + QLatin1Char('_') + year();
        p.user = QStringLiteral("SA");
        p.password = password();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cmdOK->setEnabled(false);
        const QString why = checkLogin(p);
        updateOk();
        QApplication::restoreOverrideCursor();
        // Closed while the trial login waited: the close stands.
        if (!isVisible())
            return;
        if (!why.isEmpty()) {
            labError->setText(QStringLiteral("无法登录账套数据库：") + why);
            labError->show();
            txtPassword->clear();
            txtPassword->setFocus();
            return;
        }
    }
    accept();
}

void DialogLoginComponent::login(const QString &)
{
    FrmLogin dialog(QApplication::activeWindow());
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
