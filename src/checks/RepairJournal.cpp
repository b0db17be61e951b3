#include "RepairJournal.h"
#include "DbError.h"
#include "SqliteConnection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

namespace vireo {

namespace {

QString &pathOverride()
{
    static QString p;
    return p;
}

QSqlQuery prepared(LocalStore &store, const QString &sql)
{
    QSqlQuery q(store.connection().database());
    if (!q.prepare(sql))
        throw db::DbError(q.lastError().text());
    return q;
}

void run(QSqlQuery &q)
{
    if (!q.exec())
        throw db::DbError(q.lastError().text());
}

const QString kJournal = QStringLiteral("repair_journal");

void ensureJournal(LocalStore &store)
{
    if (store.schemaVersion(kJournal) >= 1)
        return;
    store.connection().execute(QStringLiteral(
        "create table if not exists repairs (id integer primary key autoincrement, time text not null, "
        "operator text, server text, database text, code text, name text, script_sha256 text, "
        "succeeded integer not null, message text, findings_before integer, findings_after integer)"));
    store.setSchemaVersion(kJournal, 1);
}

} // namespace

QString LocalStore::defaultPath()
{
    if (!pathOverride().isEmpty())
        return pathOverride();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/vireo.sqlite");
}

void LocalStore::setDefaultPath(const QString &path) { pathOverride() = path; }

LocalStore::LocalStore(const QString &path)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        throw db::DbError(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir)));
    m_conn = std::make_unique<db::SqliteConnection>(path);
    m_conn->execute(QStringLiteral(
        "create table if not exists schema_version (component text primary key, version integer not null)"));
}

LocalStore::~LocalStore() = default;

int LocalStore::schemaVersion(const QString &component)
{
    QSqlQuery q = prepared(*this, QStringLiteral("select version from schema_version where component = ?"));
    q.addBindValue(component);
    run(q);
    return q.next() ? q.value(0).toInt() : 0;
}

void LocalStore::setSchemaVersion(const QString &component, int version)
{
    QSqlQuery q = prepared(*this, QStringLiteral("insert or replace into schema_version values (?, ?)"));
    q.addBindValue(component);
    q.addBindValue(version);
    run(q);
}

namespace RepairJournal {

qint64 append(LocalStore &store, const RepairRecord &r)
{
    ensureJournal(store);
    QSqlQuery q = prepared(store, QStringLiteral(
        "insert into repairs (time, operator, server, database, code, name, script_sha256, succeeded, message, "
        "findings_before, findings_after) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(r.time.toString(Qt::ISODate));
    for (const QString *s : {&r.operatorName, &r.server, &r.database, &r.code, &r.name, &r.scriptSha256})
        q.addBindValue(*s);
    q.addBindValue(r.succeeded ? 1 : 0);
    q.addBindValue(r.message);
    q.addBindValue(r.before < 0 ? QVariant() : QVariant(r.before));
    q.addBindValue(r.after < 0 ? QVariant() : QVariant(r.after));
    run(q);
    return q.lastInsertId().toLongLong();
}

void setAfter(LocalStore &store, qint64 id, qint64 after)
{
    ensureJournal(store);
    QSqlQuery q = prepared(store, QStringLiteral("update repairs set findings_after = ? where id = ?"));
    q.addBindValue(after);
    q.addBindValue(id);
    run(q);
}

std::vector<RepairRecord> list(LocalStore &store)
{
    ensureJournal(store);
    QSqlQuery q = prepared(store, QStringLiteral(
        "select id, time, operator, server, database, code, name, script_sha256, succeeded, message, "
        "findings_before, findings_after from repairs order by id desc"));
    run(q);
    std::vector<RepairRecord> out;
    while (q.next()) {
        RepairRecord r;
        r.id = q.value(0).toLongLong();
        r.time = QDateTime::fromString(q.value(1).toString(), Qt::ISODate);
        r.operatorName = q.value(2).toString();
        r.server = q.value(3).toString();
        r.database = q.value(4).toString();
        r.code = q.value(5).toString();
        r.name = q.value(6).toString();
        r.scriptSha256 = q.value(7).toString();
        r.succeeded = q.value(8).toInt() != 0;
        r.message = q.value(9).toString();
        r.before = q.value(10).isNull() ? -1 : q.value(10).toLongLong();
        r.after = q.value(11).isNull() ? -1 : q.value(11).toLongLong();
        out.push_back(r);
    }
    return out;
}

QString fileSha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

} // namespace RepairJournal

} // namespace vireo
