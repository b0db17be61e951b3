#pragma once
#include "Connection.h"
#include <QString>
#include <memory>

namespace vireo {

// Process-wide state of start-up and login.
struct Session {
    QString programFolder;                        // folder of the executable, no trailing separator
    QString catalogPath;                          // programFolder + "\VUZ.mdb"
    std::unique_ptr<db::Connection> catalogConn;  // CatalogConn; absent when VUZ.mdb is missing
    std::unique_ptr<db::Connection> accountConn;  // AccountConn; replaced at every login

    // The item folder programFolder/File/{code}.
    QString itemFolder(const QString &code) const;
};

Session &session();

} // namespace vireo
