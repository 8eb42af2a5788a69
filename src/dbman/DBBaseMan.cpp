#include "DBBaseMan.h"

QString TDBBaseMan::ParamSuffix(const QString& name)
{
    QString s = name;
    s.replace(QLatin1Char('.'), QLatin1Char('_'));
    s.replace(QLatin1Char(' '), QLatin1Char('_'));
    return s;
}

void TDBBaseMan::copyprmsval(const TParams& source, TParams& target)
{
    for (const TParam& s : source) {
        TParam* t = target.FindParam(s.Name);
        if (!t)
            continue;
        t->DataType = s.DataType;
        if (s.DataType == TFieldType::ftBlob)
            t->Value = s.IsNull() ? QVariant() : QVariant(s.AsString());
        else
            t->Value = s.Value;
        t->Bound = true;
    }
}

void TDBBaseMan::BetweenCond(const QString& field, const QString& low, const QString& high, QString& cond)
{
    cond = QStringLiteral(" %1 between %2 and %3 ").arg(field, low, high);
}

void TDBBaseMan::addprmval(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                           QString& cond)
{
    const QString f = field.isEmpty() ? QString::number(params.Count()) : field;
    const QString name = QStringLiteral("prm") + ParamSuffix(f);
    TParam& p = params.CreateParam(dataType, name, TParamType::ptInputOutput);
    p.SetValue(value);
    if (dataType == TFieldType::ftDateTime && p.IsNull())
        p.Bound = false;
    QString op = QStringLiteral(" = ");
    if (dataType == TFieldType::ftString) {
        if (mode == 0)
            op = QStringLiteral(" starting ");
        else if (mode == 1)
            op = QStringLiteral(" containing ");
    }
    cond = f + op + ParamPrefix + name;
}

void TDBBaseMan::addprmref(TParams& params, const QString& name, QString& ref, const QVariant& value, TFieldType dataType)
{
    const QString n = QStringLiteral("prm") + ParamSuffix(name.isEmpty() ? QString::number(params.Count()) : name);
    TParam& p = params.CreateParam(dataType, n, TParamType::ptInputOutput);
    if (value.isValid() && !value.isNull()) {
        p.SetValue(value);
    } else {
        p.Clear();
        p.Bound = true;
    }
    ref = ParamPrefix + n;
}
