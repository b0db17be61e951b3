#include "Environment.h"
#include <cstdlib>
#include <cstring>

namespace vireo {

QString takeEnvironmentSecret(const char *name)
{
    char *value = std::getenv(name);
    if (!value)
        return {};
    const QString secret = QString::fromLocal8Bit(value);
    // getenv points into the block the process started with (or into a copy setenv made);
    // overwriting it leaves nothing readable behind.
    std::memset(value, 0, std::strlen(value));
    qunsetenv(name);
    return secret;
}

QProcessEnvironment childProcessEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys())
        if (key.startsWith(QLatin1String("VIREO_")))
            env.remove(key);
    return env;
}

} // namespace vireo
