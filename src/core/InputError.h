#pragma once

#include <QString>

#include <stdexcept>

// A file or an input from outside that cannot be used as it is: a configuration file, a
// description, a script, an import. The message names the place and the reason, never a secret.
class InputError : public std::runtime_error {
public:
    explicit InputError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};
