#include "Session.h"

namespace vireo {

QString Session::itemFolder(const QString &code) const
{
    return programFolder + QStringLiteral("/File/") + code;
}

Session &session()
{
    static Session s;
    return s;
}

} // namespace vireo
