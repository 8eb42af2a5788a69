#pragma once

#include <QString>

// The suite-wide password policy: 70 characters '0'/'1', empty until first loaded. Written
// only by the main window's load and save of the policy; read by the users windows.
QString& PasswordPolicyFlags();
constexpr int kPolicyLength = 70;

// Position 2: the domain-account columns and functions are shown.
inline bool DomainLogonAllowed()
{
    const QString& f = PasswordPolicyFlags();
    return f.size() >= 2 && f[1] == QLatin1Char('1');
}
