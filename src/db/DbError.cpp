#include "DbError.h"

namespace vireo::db {

DbError::DbError(const QString &message, int number, const QString &sqlState)
    : std::runtime_error(message.toStdString()), m_message(message), m_number(number), m_sqlState(sqlState)
{
}

} // namespace vireo::db
