#include "Session.h"

namespace vireo {

QString Session::itemFolder(const QString &code) const
{
    return programFolder + QStringLiteral("/File/") + code;
}

RunIdentity Session::runIdentity() const
{
    RunIdentity id;
    id.server = accountInfo.serverName;
    id.address = accountInfo.server;
    id.database = accountInfo.database;
    id.operatorName = accountInfo.operatorName;
    return id;
}

Session &session()
{
    static Session s;
    return s;
}

} // namespace vireo
