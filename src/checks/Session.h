#pragma once
#include "Connection.h"
#include "ItemOutcome.h"
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
        QString serverName;   // the server's own name (@@SERVERNAME), known after the first run
    } accountInfo;
    // What the last login used, kept in memory only, so that a lost connection can be opened again.
    std::optional<db::AccountParams> accountParams;

    // The outcome of an item as the main window shows it; the report window holds the result
    // table's stamp against it. Unset, or nothing, when the item has none.
    std::function<std::optional<ItemOutcome>(const QString &code)> outcomeOf;
    // Told on the window thread when an item's outcome changed outside a run (re-check, repair,
    // procedure run); the main window shows it.
    std::function<void(const ItemOutcome &outcome)> outcomeChanged;
    // Called under the server lock, on the worker, for an item checked outside a run (the run
    // history's capture of its rows).
    std::function<void(ItemOutcome &item, db::Connection *account)> itemChecked;

    // What a run or a single item's check on the current login describes.
    RunIdentity runIdentity() const;

    // The item folder programFolder/File/{code}.
    QString itemFolder(const QString &code) const;
};

Session &session();

} // namespace vireo
