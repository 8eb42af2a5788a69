#include "ImportReport.h"

#include "ImportText.h"

#include "core/FileWrite.h"

namespace Text = ImportText;

QString ImportRowLine(const ImportRow& row, const RowResult& r, bool preview)
{
    // A refused login may hold control characters, which a terminal or a report must not take.
    QString login = row.login.trimmed();
    for (QChar& c : login)
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    QString line = QString::number(row.number) + QStringLiteral(": ");
    switch (r.outcome) {
    case RowResult::Created:
        line += QStringLiteral("created ") + login + (preview ? QString() : QStringLiteral(" (%1)").arg(r.userId));
        break;
    case RowResult::Refreshed:
        line += QStringLiteral("refreshed ") + login + QStringLiteral(" (%1)").arg(r.userId);
        break;
    case RowResult::Skipped:
        line += QStringLiteral("skipped ") + login + QStringLiteral(": ") + r.reason;
        break;
    case RowResult::Refused:
        line += QStringLiteral("refused ") + login + QStringLiteral(": ") + r.reason;
        break;
    }
    if (!r.provisionError.isEmpty())
        line += QStringLiteral("; not provisioned: ") + r.provisionError;
    return line;
}

void ImportCounts::add(const RowResult& r)
{
    switch (r.outcome) {
    case RowResult::Created:
        ++created;
        break;
    case RowResult::Refreshed:
        ++refreshed;
        break;
    case RowResult::Skipped:
        ++skipped;
        break;
    case RowResult::Refused:
        ++refused;
        break;
    }
    if (!r.provisionError.isEmpty())
        ++notProvisioned;
}

QStringList ImportSummary(const ImportCounts& c, const ImportEnd& end)
{
    QStringList lines;
    lines << (end.preview ? Text::SummaryPreview : Text::SummaryRun).arg(c.rows()).arg(end.total);
    lines << Text::SummaryCounts.arg(c.created).arg(c.refreshed).arg(c.skipped).arg(c.refused).arg(c.notProvisioned);
    if (end.stoppedBefore > 0)
        lines << Text::SummaryStopped.arg(end.stoppedBefore);
    if (end.failedAt > 0)
        lines << Text::SummaryFailed.arg(end.failedAt);
    return lines;
}

QString DefaultImportReportPath(const QString& importedFile, const QDateTime& at)
{
    return importedFile + QStringLiteral(".import-") + at.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".txt");
}

void WriteImportReport(const QString& path, const QStringList& lines)
{
    // Login names are personal data: the report is the administrator's alone.
    WriteFileAtomically(path, (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), NewFileAccess::Private);
}
