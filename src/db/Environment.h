#pragma once
#include <QProcessEnvironment>
#include <QString>

namespace vireo {

// Reads a secret from an environment variable and removes it: the value is also overwritten in
// the process's original environment block, so /proc/PID/environ no longer shows it. Empty when
// the variable is not set.
QString takeEnvironmentSecret(const char *name);

// The environment a child process starts with: this process's, without any VIREO_* variable, so
// that no password given to the tool reaches a program that has no use for it.
QProcessEnvironment childProcessEnvironment();

} // namespace vireo
