#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace vireo {

// Storage for a control's persisted properties, keyed by property name.
// A value equal to the write default is not stored; a missing key reads back
// as the read default.
class PropertyBag
{
public:
    QVariant readProperty(const QString &name, const QVariant &defaultValue = {}) const;
    void writeProperty(const QString &name, const QVariant &value,
                       const QVariant &defaultValue = {});

    bool contains(const QString &name) const { return m_values.contains(name); }
    const QVariantMap &values() const { return m_values; }
    void setValues(const QVariantMap &values) { m_values = values; }

private:
    QVariantMap m_values;
};

} // namespace vireo
