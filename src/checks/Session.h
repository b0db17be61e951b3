#pragma once
#include "Connection.h"
#include "OdbcConnection.h"
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace vireo {

// Process-wide state of start-up and login.
struct Session {
    QString programFolder;                        // folder of the executable, no trailing separator
    QString catalogPath;                          // programFolder + "\VUZ.mdb"
    std::unique_ptr<db::Connection> catalogConn;  // CatalogConn; absent when VUZ.mdb is missing
    std::unique_ptr<db::Connection> accountConn;  // AccountConn; replaced at every login
    // What the last login named (never the password): for the run history and the report.
    struct AccountInfo {
        QString server, account, year, database, operatorName;
    } accountInfo;
    // What the last login used, kept in memory only, so that a lost connection can be opened again.
    std::optional<db::AccountParams> accountParams;

    // Told when an item's result table was rebuilt outside a check run (re-check, parameter window:
    // staleNote empty) or when what it shows went out of date (a repair: staleNote says why); the
    // main window refreshes that item's summary row.
    std::function<void(const QString &code, const QString &staleNote)> itemResultChanged;

    // The item folder programFolder/File/{code}.
    QString itemFolder(const QString &code) const;
};

Session &session();

} // namespace vireo
