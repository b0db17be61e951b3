#include "ItemOutcome.h"
#include <QRandomGenerator>
#include <QRegularExpression>

namespace vireo {

QString itemStateName(ItemState state)
{
    switch (state) {
    case ItemState::Checked:
        return QStringLiteral("checked");
    case ItemState::Error:
        return QStringLiteral("error");
    case ItemState::NotRun:
        return QStringLiteral("not_run");
    case ItemState::Cancelled:
        return QStringLiteral("cancelled");
    case ItemState::Repaired:
        return QStringLiteral("repaired");
    }
    return {};
}

QString accountOfDatabase(const QString &database)
{
    static const QRegularExpression pattern(QStringLiteral("^QZdata_(.+)_(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto m = pattern.match(database);
    return m.hasMatch() ? m.captured(1) : database;
}

QString resultOwnershipProblem(const ResultStamp &expected, const ResultStamp &found)
{
    if (!expected.present())
        return QStringLiteral("本次没有该项目的检查结果，请重新检查");
    if (expected.sameResult(found))
        return {};
    if (!found.present())
        return QStringLiteral("该项目的结果表已不存在或未写完（可能已被删除或服务器已重启），请重新检查");
    const QString when = found.checkedAt.date() == expected.checkedAt.date() || !expected.checkedAt.isValid()
                             ? found.checkedAt.toString(QStringLiteral("HH:mm"))
                             : found.checkedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const QString server = found.server.compare(expected.server, Qt::CaseInsensitive) == 0
                               ? QString()
                               : QStringLiteral("服务器 %1 上").arg(found.server);
    return QStringLiteral("该结果已被%1账套 %2 于 %3 的检查覆盖，请重新检查")
        .arg(server, accountOfDatabase(found.database), when);
}

QString ItemOutcome::finding() const
{
    switch (state) {
    case ItemState::Checked:
    case ItemState::Repaired:
        return QStringLiteral("记录数：") + QString::number(count);
    case ItemState::Error:
        return errorText;
    case ItemState::NotRun:
    case ItemState::Cancelled:
        break;
    }
    return {};
}

QString newRunId()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmsszzz")) + QLatin1Char('-')
           + QString::number(QRandomGenerator::global()->generate64(), 36);
}

ItemOutcome *CheckRunRecord::find(const QString &code)
{
    for (ItemOutcome &i : items)
        if (i.code == code)
            return &i;
    return nullptr;
}

const ItemOutcome *CheckRunRecord::find(const QString &code) const
{
    return const_cast<CheckRunRecord *>(this)->find(code);
}

} // namespace vireo
