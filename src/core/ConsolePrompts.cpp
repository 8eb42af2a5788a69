#include "ConsolePrompts.h"

#include <cstdio>

namespace {
void print(const char* kind, const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "%s: %s\n", kind, t.toLocal8Bit().constData());
}
} // namespace

void ConsolePrompts::message(const QString& text, Icon icon)
{
    print(icon == Icon::Error ? "error" : icon == Icon::Warning ? "warning" : "message", text);
}

bool ConsolePrompts::confirm(const QString& text, Icon, Answer)
{
    print("question (answered No)", text);
    return false;
}

Prompts::Answer ConsolePrompts::askYesNoCancel(const QString& text, Icon)
{
    print("question (cancelled)", text);
    return Answer::Cancel;
}

bool ConsolePrompts::inputText(const QString&, const QString& prompt, QString&)
{
    print("input (cancelled)", prompt);
    return false;
}
