#include "DBParams.h"

#include "db/Error.h"

#include <QDateTime>

QString FieldTypeName(TFieldType type)
{
    switch (type) {
    case TFieldType::ftUnknown: return QStringLiteral("ftUnknown");
    case TFieldType::ftString: return QStringLiteral("ftString");
    case TFieldType::ftSmallint: return QStringLiteral("ftSmallint");
    case TFieldType::ftInteger: return QStringLiteral("ftInteger");
    case TFieldType::ftWord: return QStringLiteral("ftWord");
    case TFieldType::ftBoolean: return QStringLiteral("ftBoolean");
    case TFieldType::ftFloat: return QStringLiteral("ftFloat");
    case TFieldType::ftDate: return QStringLiteral("ftDate");
    case TFieldType::ftTime: return QStringLiteral("ftTime");
    case TFieldType::ftDateTime: return QStringLiteral("ftDateTime");
    case TFieldType::ftBlob: return QStringLiteral("ftBlob");
    case TFieldType::ftMemo: return QStringLiteral("ftMemo");
    case TFieldType::ftLargeint: return QStringLiteral("ftLargeint");
    }
    return QStringLiteral("ftUnknown");
}

QString ParamTypeWord(TParamType type)
{
    switch (type) {
    case TParamType::ptUnknown: return QStringLiteral("Unknown");
    case TParamType::ptInput: return QStringLiteral("Input");
    case TParamType::ptOutput: return QStringLiteral("Output");
    case TParamType::ptInputOutput: return QStringLiteral("InOut");
    case TParamType::ptResult: return QStringLiteral("Result");
    }
    return QStringLiteral("Unknown");
}

TFieldType FieldTypeOfCatalogue(const QString& typeName)
{
    const QString t = typeName.trimmed().toUpper();
    if (t == QLatin1String("SMALLINT"))
        return TFieldType::ftSmallint;
    if (t == QLatin1String("INTEGER") || t == QLatin1String("INT"))
        return TFieldType::ftInteger;
    if (t == QLatin1String("BIGINT"))
        return TFieldType::ftLargeint;
    if (t.startsWith(QLatin1String("VARCHAR")) || t.startsWith(QLatin1String("CHAR")) || t.startsWith(QLatin1String("CHARACTER")) ||
        t == QLatin1String("TEXT") || t == QLatin1String("NAME") || t == QLatin1String("CSTRING"))
        return TFieldType::ftString;
    if (t.startsWith(QLatin1String("TIMESTAMP")))
        return TFieldType::ftDateTime;
    if (t == QLatin1String("DATE"))
        return TFieldType::ftDate;
    if (t.startsWith(QLatin1String("TIME")))
        return TFieldType::ftTime;
    if (t == QLatin1String("BLOB SUB_TYPE TEXT"))
        return TFieldType::ftMemo;
    if (t.startsWith(QLatin1String("BLOB")) || t == QLatin1String("BYTEA"))
        return TFieldType::ftBlob;
    if (t == QLatin1String("BOOLEAN"))
        return TFieldType::ftBoolean;
    if (t.startsWith(QLatin1String("NUMERIC")) || t.startsWith(QLatin1String("DECIMAL")) || t.startsWith(QLatin1String("DOUBLE")) ||
        t == QLatin1String("FLOAT") || t == QLatin1String("REAL"))
        return TFieldType::ftFloat;
    return TFieldType::ftUnknown;
}

QString TParam::AsString() const
{
    if (IsNull())
        return {};
    if (Value.typeId() == QMetaType::QDateTime)
        return Value.toDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    if (Value.typeId() == QMetaType::QDate)
        return Value.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    return Value.toString();
}

QVariant TParam::BindValue() const
{
    if (IsNull())
        return {};
    switch (DataType) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint: {
        bool ok = false;
        const qint64 v = Value.toLongLong(&ok);
        return ok ? QVariant(v) : Value; // the server reports a text that is no number
    }
    case TFieldType::ftString:
    case TFieldType::ftMemo:
        return Value.typeId() == QMetaType::QString ? Value : QVariant(AsString());
    default:
        return Value;
    }
}

TParam& TParams::CreateParam(TFieldType dataType, const QString& name, TParamType paramType)
{
    m_items.append(TParam(name, dataType, paramType));
    return m_items.last();
}

TParam* TParams::FindParam(const QString& name)
{
    for (TParam& p : m_items)
        if (p.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

const TParam* TParams::FindParam(const QString& name) const { return const_cast<TParams*>(this)->FindParam(name); }

TParam& TParams::ParamByName(const QString& name)
{
    if (TParam* p = FindParam(name))
        return *p;
    throw db::Error(QStringLiteral("Параметърът '%1' не е намерен").arg(name));
}

const TParam& TParams::ParamByName(const QString& name) const { return const_cast<TParams*>(this)->ParamByName(name); }
