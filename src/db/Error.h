#pragma once

#include <QString>
#include <stdexcept>

namespace db {

// Every failure of the connection layer. The message is the server's own text where there is one.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message, bool connectionLost = false)
        : std::runtime_error(message.toStdString()), m_message(message), m_lost(connectionLost) {}
    const QString& message() const { return m_message; }
    // The server went away (restart, network, an administrator ended the attachment): the
    // connection is unusable and the database reconnects on its next use.
    bool connectionLost() const { return m_lost; }

private:
    QString m_message;
    bool m_lost = false;
};

inline const QString& lostConnectionText()
{
    static const QString t = QStringLiteral("Връзката с базата данни е прекъсната");
    return t;
}

// The message of any exception, for reports that must not let an error escape.
inline QString errorMessage(const std::exception& e)
{
    if (auto* dbe = dynamic_cast<const Error*>(&e))
        return dbe->message();
    return QString::fromUtf8(e.what()); // our own errors carry UTF-8 text
}

} // namespace db
