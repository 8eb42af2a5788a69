#include "Prompts.h"

#include "ConsolePrompts.h"

namespace {
Prompts* g_installed = nullptr;
} // namespace

Prompts& prompts()
{
    // Without an installed implementation (set-up actions, tools) nobody is at the screen.
    static ConsolePrompts console;
    return g_installed ? *g_installed : console;
}

Prompts* setPrompts(Prompts* p)
{
    Prompts* previous = g_installed;
    g_installed = p;
    return previous;
}

QString QtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

