#include "LoginDialog.h"
#include "MainWindow.h"
#include "LoginComponent.h"
#include "Startup.h"
#include "FileHelpers.h"
#include "Session.h"
#include "StandIn.h"
#include "TestPaths.h"
#include "UiTestSupport.h"
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QProgressDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

// What a scripted login component answers, and the members called on it, in order.
struct LoginScript {
    int state = 1;
    QString server, account = QStringLiteral("001"), year = QStringLiteral("2024"), password,
                    user = QStringLiteral("张三");
    QStringList failing;  // members that throw
    QStringList calls;
};

class ScriptedLogin : public LoginComponent {
public:
    explicit ScriptedLogin(LoginScript &s) : m(s) {}
    void login(const QString &arg) override { call(QStringLiteral("login(") + arg + QLatin1Char(')')); }
    int LogState() override { return call(QStringLiteral("LogState")), m.state; }
    void ClearError() override { call(QStringLiteral("ClearError")); }
    QString QzDbName() override { return call(QStringLiteral("QzDbName")), "QZdata_" + m.account + "_" + m.year; }
    void ShutDown() override { call(QStringLiteral("ShutDown")); }
    QString cserver() override { return call(QStringLiteral("cserver")), m.server; }
    QString cacc_id() override { return call(QStringLiteral("cacc_id")), m.account; }
    QString cIYear() override { return call(QStringLiteral("cIYear")), m.year; }
    QString SysPassword() override { return call(QStringLiteral("SysPassword")), m.password; }
    QString CuserId() override { return call(QStringLiteral("CuserId")), m.user; }

private:
    void call(const QString &name)
    {
        m.calls << name;
        if (m.failing.contains(name))
            throw std::runtime_error("member failed");
    }
    LoginScript &m;
};

class StartupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::StandIn::Options o;
        o.databases = QStringList{QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024"),
                                  QStringLiteral("QZdata_003_2023"), QStringLiteral("QZdata_tmp"), QStringLiteral("archive")};
        standIn = new test::StandIn(o);
        for (const QString &acc : {QStringLiteral("001"), QStringLiteral("002")}) {
            auto c = standIn->connect(QStringLiteral("QZdata_") + acc + QStringLiteral("_2024"));
            c->execute(QStringLiteral("create table which_db (acc varchar(10))"));
            c->execute(QStringLiteral("insert into which_db values ('") + acc + QStringLiteral("')"));
        }
    }
    static void TearDownTestSuite()
    {
        delete standIn;
        standIn = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile::copy(test::dataDir() + QStringLiteral("/ui/VUZ.mdb"), dir.filePath(QStringLiteral("VUZ.mdb")));
        script.server = standIn->server();
        script.password = standIn->params().password;
        reset();
        startupHooks().endProgram = [this](int code) { ended << code; };
    }

    void TearDown() override
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<MainWindow *>(w))
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        reset();
    }

    static void reset()
    {
        LoginRegistry::clear();
        resetStartupHooks();
        session().catalogConn.reset();
        session().accountConn.reset();
    }

    // Registers the scripted component under a ProgID, counting creations.
    void provide(const QString &progId, int *created = nullptr)
    {
        LoginRegistry::registerProgId(progId, [this, created] {
            if (created)
                ++*created;
            return std::make_unique<ScriptedLogin>(script);
        });
    }

    // The error a statement on the session's (unopened) account connection raises.
    static QString failure()
    {
        try {
            session().accountConn->execute(QStringLiteral("select 1"));
        } catch (const db::DbError &e) {
            return e.message();
        }
        return QStringLiteral("a statement on the unopened connection ran");
    }

    QString accountDb()
    {
        return session().accountConn->query(QStringLiteral("select acc from which_db")).text(0, 0);
    }

    static inline test::StandIn *standIn = nullptr;
    QTemporaryDir dir;
    LoginScript script;
    QList<int> ended;
};

TEST_F(StartupTest, SecondComponentServesWhenFirstIsMissingAndLoginCallsItsMembersInOrder)
{
    int created = 0;
    provide(kSecondaryLoginProgId, &created);
    ASSERT_TRUE(startProgram(dir.path()));

    EXPECT_EQ(created, 1);
    EXPECT_EQ(session().catalogPath, dir.path() + QStringLiteral("\\VUZ.mdb"));
    ASSERT_TRUE(session().catalogConn);
    EXPECT_EQ(script.calls, (QStringList{"login(DP)", "LogState", "QzDbName", "ShutDown", "cserver", "cacc_id",
                                         "cIYear", "SysPassword", "CuserId", "cserver", "cacc_id", "cIYear"}));
    ASSERT_NE(erpDbObject(), nullptr);
    EXPECT_EQ(erpDbObject()->name(), QStringLiteral("QZdata_001_2024"));
    EXPECT_EQ(accountDb(), QStringLiteral("001"));

    MainWindow *w = mainWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ((QStringList{w->panelText(1), w->panelText(2), w->panelText(3)}),
              (QStringList{"操作员：张三", "服务器：" + standIn->server(), "当前账套：[001] 会计年度：[2024]"}));
    // The window loaded the Tools catalogue from VUZ.mdb.
    EXPECT_EQ(w->findChild<QTreeWidget *>(QStringLiteral("catalogueTree"))->topLevelItemCount(), 2);
    EXPECT_TRUE(ended.isEmpty());
}

// Logins that open nothing. A failed creation (no object, a missing member, nothing installed)
// shows the failure message and ends the program; an abandoned login (LogState 100: ClearError and
// nothing else) or a creation failing with another number ends quietly. The second component is
// tried only when the first is not installed.
TEST_F(StartupTest, FailedOrAbandonedLoginsOpenNothing)
{
    const auto throwing = [](int number) {
        return [number]() -> std::unique_ptr<LoginComponent> { throw ComponentError(number); };
    };
    const struct {
        const char *name;
        std::function<void()> setUp;
        bool secondInstalled, message;
        QStringList calls;
    } cases[] = {
        {"no object (91)", [] { LoginRegistry::registerProgId(kPrimaryLoginProgId, [] { return std::unique_ptr<LoginComponent>(); }); },
         true, true, {}},
        {"lacks a member (438), second not installed (429)", [&] { LoginRegistry::registerProgId(kPrimaryLoginProgId, throwing(438)); },
         false, true, {}},
        {"neither installed", [] {}, false, true, {}},
        {"abandoned", [&] { script.state = 100; provide(kPrimaryLoginProgId); }, true, false, {"login(DP)", "LogState", "ClearError"}},
        {"another number (5)", [&] { LoginRegistry::registerProgId(kPrimaryLoginProgId, throwing(5)); }, true, false, {}},
    };
    int secondCreated = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoginRegistry::clear();
        ended.clear();
        script.calls.clear();
        c.setUp();
        if (c.secondInstalled)
            provide(kSecondaryLoginProgId, &secondCreated);
        test::ModalWatcher watcher;
        loginAccount();
        ASSERT_EQ(watcher.boxes.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
            EXPECT_EQ(watcher.boxes[0].title + QLatin1Char('|') + watcher.boxes[0].text,
                      QStringLiteral("登录失败|请检查QZ软件系统安装是否正常，是否能正常登录及使用！"));
        }
        EXPECT_EQ(ended.size(), c.message ? 1 : 0);
        EXPECT_TRUE(mainWindow() == nullptr && !session().accountConn);
        EXPECT_EQ(script.calls, c.calls);
    }
    EXPECT_EQ(secondCreated, 0);
}

TEST_F(StartupTest, FailingStepsAreSkippedAndAFailedAccountConnectionSaysWhyLater)
{
    provide(kPrimaryLoginProgId);
    script.failing = QStringList{"ShutDown", "CuserId"};
    script.password = QStringLiteral("Wrong#Secret9");
    ASSERT_TRUE(startProgram(dir.path()));

    MainWindow *w = mainWindow();
    EXPECT_EQ(w->panelText(1) + w->panelText(3), QStringLiteral("操作员当前账套：[001] 会计年度：[2024]"));
    ASSERT_TRUE(session().accountConn);
    EXPECT_FALSE(session().accountConn->isOpen());
    const QString why = failure();
    EXPECT_TRUE(why.contains(QStringLiteral("账套数据库连接未能打开"))) << why.toStdString();
    EXPECT_GT(why.size(), QStringLiteral("账套数据库连接未能打开：").size());
    EXPECT_FALSE(why.contains(script.password));
}

TEST_F(StartupTest, RegeditLogsInToAnotherAccountOrEndsTheProgramWhenAbandoned)
{
    provide(kPrimaryLoginProgId);
    ASSERT_TRUE(startProgram(dir.path()));
    db::Connection *catalog = session().catalogConn.get();
    QPointer<MainWindow> first = mainWindow();
    ASSERT_EQ(accountDb(), QStringLiteral("001"));

    // Inside the event loop, as a user meets it: a successful second login keeps the program running.
    script.account = QStringLiteral("002");
    script.user = QStringLiteral("李四");
    bool stillRunning = false;
    QTimer::singleShot(0, [&] { first->findChild<QAction *>(QStringLiteral("Relogin"))->trigger(); });
    QTimer::singleShot(1500, [&] {
        stillRunning = true;
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    EXPECT_TRUE(stillRunning);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    MainWindow *second = mainWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->panelText(1) + second->panelText(3), QStringLiteral("操作员：李四当前账套：[002] 会计年度：[2024]"));
    EXPECT_EQ(accountDb(), QStringLiteral("002"));
    EXPECT_TRUE(session().catalogConn.get() == catalog && second->treeName == QStringLiteral("Tools"));

    // An abandoned login after Relogin: no window, and the event loop ends.
    script.state = 100;
    bool timedOut = false;
    QTimer::singleShot(0, [&] { second->menuCommand(QStringLiteral("Relogin")); });
    QObject guard;   // the bound on the wait goes with it
    QTimer::singleShot(10000, &guard, [&] {
        timedOut = true;
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    EXPECT_TRUE(!timedOut && mainWindow() == nullptr);
}

// The built-in login dialog: a failed login says why and keeps the dialog open (the password box
// emptied); the login that works opens the window; everything but the password is remembered
// for the next dialog, whose Cancel abandons the login.
TEST_F(StartupTest, BuiltInDialogSaysWhyALoginFailedAndRemembersAllButThePassword)
{
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    registerBuiltInLogin();
    const QString good = standIn->params().password;
    const struct {
        QString server, account, password, says;
    } tries[] = {
        {standIn->server(), QStringLiteral("001"), QStringLiteral("Wrong#Secret9"), QStringLiteral("Login failed")},
        {standIn->server(), QStringLiteral("009"), good, QStringLiteral("QZdata_009_2024")},
        {QStringLiteral("127.0.0.1,1"), QStringLiteral("001"), good, QStringLiteral("connect")},
        {standIn->server(), QStringLiteral("002"), good, {}},
    };
    size_t attempt = 0;
    test::ModalWatcher watcher;
    watcher.onDialog = [&](QWidget *d) {
        ASSERT_EQ(d->objectName(), QStringLiteral("LoginDialog"));
        ASSERT_LT(attempt, std::size(tries));
        const auto &t = tries[attempt++];
        auto edit = [d](const char *name) { return d->findChild<QLineEdit *>(QLatin1String(name)); };
        EXPECT_EQ(edit("passwordBox")->echoMode(), QLineEdit::Password);
        for (const auto &[name, text] : {std::pair{"serverBox", t.server}, {"accountBox", t.account}, {"yearBox", QStringLiteral("2024")},
                                         {"operatorBox", QStringLiteral("王五")}, {"passwordBox", t.password}})
            edit(name)->setText(text);
        d->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        if (t.says.isEmpty())
            return;
        const auto *label = d->findChild<QLabel *>(QStringLiteral("errorLabel"));
        ASSERT_NE(label, nullptr);
        const QString shown = label->text();
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(shown.contains(t.says, Qt::CaseInsensitive)) << shown.toStdString();
        EXPECT_FALSE(shown.contains(good) || shown.contains(t.password));
        EXPECT_EQ(edit("passwordBox")->text(), QString());
        EXPECT_EQ(edit("serverBox")->text() + edit("accountBox")->text(), t.server + t.account);
    };
    ASSERT_TRUE(startProgram(dir.path()));
    EXPECT_EQ(attempt, std::size(tries));
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(mainWindow()->panelText(1) + mainWindow()->panelText(3), QStringLiteral("操作员：王五当前账套：[002] 会计年度：[2024]"));
    EXPECT_EQ(accountDb(), QStringLiteral("002"));

    QFile stored(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vireo"), QStringLiteral("VireoLogin")).fileName());
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(stored.readAll());
    EXPECT_TRUE(written.contains(QStringLiteral("002")) && !written.contains(good));

    mainWindow()->close();
    QString remembered;
    watcher.onDialog = [&](QWidget *d) {
        remembered = d->findChild<QLineEdit *>(QStringLiteral("serverBox"))->text() + QLatin1Char('|')
                     + d->findChild<QLineEdit *>(QStringLiteral("accountBox"))->text() + QLatin1Char('|')
                     + d->findChild<QLineEdit *>(QStringLiteral("passwordBox"))->text();
        d->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
    };
    loginAccount();
    EXPECT_EQ(remembered, standIn->server() + QStringLiteral("|002|"));
    EXPECT_EQ(mainWindow(), nullptr);
}

TEST_F(StartupTest, CatalogueThatCannotBeOpenedEndsTheProgramBeforeTheLogin)
{
    int created = 0;
    provide(kPrimaryLoginProgId, &created);
    QFile f(dir.filePath(QStringLiteral("vuz.MDB")));
    QFile::remove(dir.filePath(QStringLiteral("VUZ.mdb")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();

    test::ModalWatcher watcher;
    EXPECT_FALSE(startProgram(dir.path()));
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("vuz.MDB"), Qt::CaseInsensitive))
        << watcher.boxes[0].text.toStdString();
    EXPECT_TRUE(ended == QList<int>{1} && created == 0);
}

TEST(ProgramFolderSearch, EachSourceWinsOverTheLaterOnesAndFoldersWithoutTheCatalogueAreSkipped)
{
    QTemporaryDir root;
    QStringList order;   // command line, VIREO_PROGRAM_FOLDER, remembered, executable, XDG_DATA_HOME, XDG_DATA_DIRS
    for (const char *name : {"cmd", "env", "chosen", "exe", "home/vireo", "share1/vireo", "share2/vireo"}) {
        QDir(root.path()).mkpath(QLatin1String(name));
        order << root.filePath(QLatin1String(name));
    }
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("VIREO_PROGRAM_FOLDER", QFile::encodeName(order[1]));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath(QStringLiteral("share1:")) + root.filePath(QStringLiteral("share2"))));
    rememberProgramFolder(order[2]);
    const QStringList candidates = programFolderCandidates(order[0], order[3]);
    ASSERT_EQ(candidates, order);

    // Every folder holds VUZ.mdb (any letter case); taking it out of the winner hands over to the next.
    for (const QString &f : order)
        ASSERT_TRUE(QFile(f + QStringLiteral("/vuz.MDB")).open(QIODevice::WriteOnly));
    for (const QString &f : order) {
        EXPECT_EQ(findProgramFolder(candidates), f);
        QFile::remove(f + QStringLiteral("/vuz.MDB"));
        QDir(f).mkdir(QStringLiteral("VUZ.mdb"));   // a folder of that name does not count
    }
    EXPECT_EQ(findProgramFolder(candidates), QString());

    // Without the variables: the XDG defaults; empty sources are left out.
    for (const char *name : {"VIREO_PROGRAM_FOLDER", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        qunsetenv(name);
    EXPECT_EQ(programFolderCandidates(QString(), order[3]),
              (QStringList{order[2], order[3], QDir::homePath() + QStringLiteral("/.local/share/vireo"),
                           QStringLiteral("/usr/local/share/vireo"), QStringLiteral("/usr/share/vireo")}));
    qputenv("XDG_DATA_HOME", dataHome);
}

// Without VUZ.mdb in any folder searched the tool says where it looked and lets the user choose a
// folder, before any login; a chosen folder without VUZ.mdb is refused; the chosen one is
// remembered and used. 退出 ends without a login.
TEST_F(StartupTest, WithoutACatalogueTheToolSaysWhereItLookedAndLetsTheUserChooseBeforeAnyLogin)
{
    int created = 0;
    provide(kPrimaryLoginProgId, &created);
    QTemporaryDir first, second;
    QStringList chosen{second.path(), dir.path()};
    QList<int> loginsAtQuestion;
    QString answer = QStringLiteral("选择文件夹…");   // the button pressed, else the first one
    test::ModalWatcher watcher;
    watcher.onBox = [&](QMessageBox *box) {
        loginsAtQuestion << created;
        QAbstractButton *pick = box->buttons().constFirst();
        for (QAbstractButton *b : box->buttons())
            pick = b->text() == answer ? b : pick;
        pick->click();
    };
    watcher.onDialog = [&](QWidget *d) {
        ASSERT_EQ(d->objectName(), QStringLiteral("programFolderDialog"));
        auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        name->setText(chosen.takeFirst());   // pasted
        QTest::keyClick(name, Qt::Key_Return);
    };
    ASSERT_TRUE(startProgram(QStringList{first.path(), second.path()}));

    ASSERT_EQ(watcher.boxes.size(), 2u);
    EXPECT_EQ(loginsAtQuestion, (QList<int>{0, 0}));
    for (const QString &looked : {first.path(), second.path()})
        EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("\n    ") + looked)) << watcher.boxes[0].text.toStdString();
    EXPECT_TRUE(watcher.boxes[1].text.startsWith(QStringLiteral("所选文件夹 %1 中没有 VUZ.mdb").arg(second.path())))
        << watcher.boxes[1].text.toStdString();
    EXPECT_EQ(created, 1);
    EXPECT_EQ(session().catalogPath, dir.path() + QStringLiteral("\\VUZ.mdb"));
    EXPECT_EQ(rememberedProgramFolder(), dir.path());
    MainWindow *w = mainWindow();
    ASSERT_NE(w, nullptr);

    // 文件 → 选择检查目录… swaps the catalogue for another folder's and remembers that folder; a
    // folder without VUZ.mdb is refused and the open catalogue stays.
    QTemporaryDir other;
    ASSERT_TRUE(QFile::copy(test::dataDir() + QStringLiteral("/ui/VUZ.mdb"), other.filePath(QStringLiteral("VUZ.mdb"))));
    const db::Connection *before = session().catalogConn.get();
    chosen = QStringList{first.path(), other.path()};
    w->findChild<QAction *>(QStringLiteral("ChooseFolder"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 3; }, 5000)) << watcher.boxes.size();
    EXPECT_EQ(watcher.boxes[2].text, QStringLiteral("所选文件夹 %1 中没有 VUZ.mdb。").arg(first.path()));
    EXPECT_EQ(session().catalogConn.get(), before);
    w->findChild<QAction *>(QStringLiteral("ChooseFolder"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session().programFolder == other.path(); }, 5000));
    EXPECT_NE(session().catalogConn.get(), before);
    EXPECT_EQ(rememberedProgramFolder(), other.path());
    EXPECT_EQ(w->findChild<QTreeWidget *>(QStringLiteral("catalogueTree"))->topLevelItemCount(), 2);
    w->close();

    answer = QStringLiteral("退出");
    EXPECT_FALSE(startProgram(first.path()));
    EXPECT_TRUE(watcher.boxes.size() == 4 && created == 1);
}

} // namespace

TEST_F(StartupTest, ALoginToASilentServerShowsItsWaitAndCanBeGivenUp)
{
    test::StandIn silent;
    ::kill(pid_t(silent.pid()), SIGSTOP);
    struct Resume {
        qint64 pid;
        ~Resume() { ::kill(pid_t(pid), SIGCONT); }
    } resume{silent.pid()};
    script.server = silent.server();
    provide(kPrimaryLoginProgId);
    QString shown;
    QElapsedTimer clock;
    QTimer::singleShot(1500, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *p = qobject_cast<QProgressDialog *>(w); p && p->isVisible()) {
                shown = p->labelText() + QLatin1Char('|') + QString::number(p->value());
                clock.start();
                p->findChild<QPushButton *>()->click();
            }
    });
    ASSERT_TRUE(startProgram(dir.path()));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("正在连接数据库服务器 ") + silent.server()) && shown.endsWith(QStringLiteral("|1")))
        << shown.toStdString();
    EXPECT_TRUE(clock.elapsed() < 1000 && !session().accountConn->isOpen());
    EXPECT_TRUE(failure().contains(QStringLiteral("登录已取消"))) << failure().toStdString();
}

// Once server and SA password are entered the dialog lists the server's account databases; picking
// one fills account and year. A silent server never holds up typing, a refused login says so.
TEST_F(StartupTest, LoginDialogOffersTheServersAccountDatabasesWithoutWaitingForTheServer)
{
    LoginDialog dialog;
    dialog.show();
    auto edit = [&](const char *name) { return dialog.findChild<QLineEdit *>(QLatin1String(name)); };
    auto *databases = dialog.findChild<QComboBox *>(QStringLiteral("databaseBox"));
    const auto enter = [&](const QString &server, const QString &password) {
        for (auto [box, text] : {std::pair{edit("serverBox"), server}, std::pair{edit("passwordBox"), password}}) {
            box->setFocus();
            box->clear();
            QTest::keyClicks(box, text);
        }
        QTest::keyClick(edit("passwordBox"), Qt::Key_Tab);   // leaving the box asks the server
    };
    enter(standIn->server(), standIn->params().password);
    ASSERT_TRUE(QTest::qWaitFor([&] { return databases->count() == 3; }, 10000)) << databases->placeholderText().toStdString();
    EXPECT_EQ(databases->itemText(0) + databases->itemText(2), QStringLiteral("001（2024 年度）003（2023 年度）"));
    databases->setFocus();
    while (databases->currentIndex() != 2)
        QTest::keyClick(databases, Qt::Key_Down);
    EXPECT_EQ(edit("accountBox")->text() + QLatin1Char('_') + edit("yearBox")->text(), QStringLiteral("003_2023"));

    test::StandIn silent;
    ::kill(pid_t(silent.pid()), SIGSTOP);
    enter(silent.server(), standIn->params().password);
    QElapsedTimer typing;
    typing.start();
    QTest::keyClicks(edit("operatorBox"), QStringLiteral("zhao"));
    EXPECT_LT(typing.elapsed(), 1000);
    EXPECT_EQ(databases->placeholderText(), QStringLiteral("正在读取服务器上的账套…"));

    const QString wrong = QStringLiteral("Wrong#Secret9");
    enter(standIn->server(), wrong);
    EXPECT_TRUE(QTest::qWaitFor([&] { return databases->placeholderText() == QStringLiteral("无法读取账套列表"); }, 10000));
    EXPECT_TRUE(databases->toolTip().contains(QStringLiteral("Login failed"))) << databases->toolTip().toStdString();
    EXPECT_FALSE(databases->toolTip().contains(wrong));
    ::kill(pid_t(silent.pid()), SIGCONT);   // its late answer is dropped
    QTest::qWait(1500);
    EXPECT_EQ(databases->count(), 0);
}
