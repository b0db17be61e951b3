#include "LoginComponent.h"
#include <QHash>

namespace vireo {

ComponentError::ComponentError(int number)
    : std::runtime_error("component creation failed: " + std::to_string(number)), m_number(number)
{
}

namespace {
QHash<QString, LoginRegistry::Factory> &factories()
{
    static QHash<QString, LoginRegistry::Factory> f;
    return f;
}
} // namespace

void LoginRegistry::registerProgId(const QString &progId, Factory factory)
{
    factories().insert(progId.toLower(), std::move(factory));
}

void LoginRegistry::unregisterProgId(const QString &progId)
{
    factories().remove(progId.toLower());
}

void LoginRegistry::clear()
{
    factories().clear();
}

std::unique_ptr<LoginComponent> LoginRegistry::create(const QString &progId, int &error)
{
    error = 0;
    // ProgIDs are not case-sensitive.
    const auto it = factories().constFind(progId.toLower());
    if (it == factories().constEnd() || !*it) {
        error = 429;
        return nullptr;
    }
    try {
        std::unique_ptr<LoginComponent> c = (*it)();
        if (!c)
            error = 91;
        return c;
    } catch (const ComponentError &e) {
        error = e.number();
    } catch (...) {
        error = 429;
    }
    return nullptr;
}

} // namespace vireo
