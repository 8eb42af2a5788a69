#include "ScriptedPrompts.h"

ScriptedPrompts::ScriptedPrompts() { m_previous = setPrompts(this); }
ScriptedPrompts::~ScriptedPrompts() { setPrompts(m_previous); }

ScriptedPrompts& ScriptedPrompts::answerConfirm(bool yes)
{
    m_replies.push_back(Reply(Kind::Confirm, yes));
    return *this;
}

ScriptedPrompts& ScriptedPrompts::answerYesNoCancel(Answer a)
{
    Reply r(Kind::YesNoCancel);
    r.answer = a;
    m_replies.push_back(r);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::answerText(const QString& text)
{
    Reply r(Kind::Text);
    r.accepted = true;
    r.text = text;
    m_replies.push_back(r);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::cancelInput()
{
    m_replies.push_back(Reply(Kind::Text));
    return *this;
}

ScriptedPrompts& ScriptedPrompts::answerFile(const QString& path)
{
    Reply r(Kind::File);
    r.text = path;
    m_replies.push_back(r);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::answerFiles(const QStringList& paths)
{
    Reply r(Kind::Files);
    r.files = paths;
    m_replies.push_back(r);
    return *this;
}

QStringList ScriptedPrompts::messages() const
{
    QStringList out;
    for (const Shown& s : shown)
        if (s.kind == QLatin1String("message"))
            out << s.text;
    return out;
}

bool ScriptedPrompts::take(Kind kind, const QString& what, Reply& out)
{
    if (m_replies.empty() || m_replies.front().kind != kind) {
        unexpected << what;
        return false;
    }
    out = m_replies.front();
    m_replies.pop_front();
    return true;
}

void ScriptedPrompts::message(const QString& text, Icon icon) { shown.append({QStringLiteral("message"), text, icon}); }

bool ScriptedPrompts::confirm(const QString& text, Icon icon, Answer defaultAnswer)
{
    shown.append({QStringLiteral("confirm"), text, icon, defaultAnswer});
    Reply r(Kind::Confirm);
    return take(Kind::Confirm, text, r) && r.yes;
}

Prompts::Answer ScriptedPrompts::askYesNoCancel(const QString& text, Icon icon)
{
    shown.append({QStringLiteral("yesNoCancel"), text, icon});
    Reply r(Kind::YesNoCancel);
    return take(Kind::YesNoCancel, text, r) ? r.answer : Answer::Cancel;
}

bool ScriptedPrompts::inputText(const QString& caption, const QString& prompt, QString& value)
{
    shown.append({QStringLiteral("input"), caption + QLatin1Char('|') + prompt});
    Reply r(Kind::Text);
    if (!take(Kind::Text, prompt, r) || !r.accepted)
        return false;
    value = r.text;
    return true;
}

QString ScriptedPrompts::openFile(const FileDialogOptions& o)
{
    shown.append({QStringLiteral("openFile"), o.title});
    Reply r(Kind::File);
    return take(Kind::File, o.title, r) ? r.text : QString();
}

QStringList ScriptedPrompts::openFiles(const FileDialogOptions& o)
{
    shown.append({QStringLiteral("openFiles"), o.title});
    Reply r(Kind::Files);
    return take(Kind::Files, o.title, r) ? r.files : QStringList();
}

QString ScriptedPrompts::saveFile(const FileDialogOptions& o)
{
    shown.append({QStringLiteral("saveFile"), o.title});
    Reply r(Kind::File);
    return take(Kind::File, o.title, r) ? r.text : QString();
}

QString ScriptedPrompts::chooseFolder(const QString& title, const QString&)
{
    shown.append({QStringLiteral("folder"), title});
    Reply r(Kind::File);
    return take(Kind::File, title, r) ? r.text : QString();
}
