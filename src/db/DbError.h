#pragma once
#include <QString>
#include <stdexcept>

namespace vireo::db {

// A failure reported by a database or its driver. message() is the database's own text.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString &message, int number = 0, const QString &sqlState = {});
    const QString &message() const { return m_message; }
    int number() const { return m_number; }
    const QString &sqlState() const { return m_sqlState; }

private:
    QString m_message;
    int m_number;
    QString m_sqlState;
};

} // namespace vireo::db
