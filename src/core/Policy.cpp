#include "Policy.h"

QString& PasswordPolicyFlags()
{
    static QString flags;
    return flags;
}
