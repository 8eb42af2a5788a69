#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// The members of the data-access layer's field-type enumeration that the managers use.
enum class TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftDate,
    ftTime,
    ftDateTime,
    ftBlob,
    ftMemo,
    ftLargeint,
};

enum class TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

QString FieldTypeName(TFieldType type);   // "ftInteger", "ftString", ...
QString ParamTypeWord(TParamType type);   // "Unknown", "Input", "Output", "InOut", "Result"
// The field type of a catalogue type name of either database kind ("INTEGER", "character varying").
TFieldType FieldTypeOfCatalogue(const QString& typeName);

class TParam {
public:
    TParam() = default;
    TParam(const QString& name, TFieldType dataType, TParamType paramType)
        : Name(name), DataType(dataType), ParamType(paramType) {}

    bool IsNull() const { return !Value.isValid() || Value.isNull(); }
    void Clear() { Value = QVariant(); }
    void SetValue(const QVariant& value) { Value = value; Bound = true; }
    QString AsString() const;
    // The value as the db layer binds it: Null, or a value of the parameter's type.
    QVariant BindValue() const;

    QString Name;
    TFieldType DataType = TFieldType::ftUnknown;
    TParamType ParamType = TParamType::ptUnknown;
    QVariant Value;
    bool Bound = false;
    int Size = 0;
};

// An ordered parameter list; names are matched without regard to case.
class TParams {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    bool IsEmpty() const { return m_items.isEmpty(); }
    TParam& operator[](int i) { return m_items[i]; }
    const TParam& operator[](int i) const { return m_items[i]; }
    TParam& CreateParam(TFieldType dataType, const QString& name, TParamType paramType);
    void Add(const TParam& p) { m_items.append(p); }
    TParam* FindParam(const QString& name);
    const TParam* FindParam(const QString& name) const;
    // Raises db::Error for a name that is not in the list.
    TParam& ParamByName(const QString& name);
    const TParam& ParamByName(const QString& name) const;
    void Clear() { m_items.clear(); }

    QList<TParam>::iterator begin() { return m_items.begin(); }
    QList<TParam>::iterator end() { return m_items.end(); }
    QList<TParam>::const_iterator begin() const { return m_items.begin(); }
    QList<TParam>::const_iterator end() const { return m_items.end(); }

private:
    QList<TParam> m_items;
};

// A procedure parameter as the catalogue describes it.
struct TProcParamDesc {
    QString Name;
    QString TypeName;
    TParamType Direction = TParamType::ptInput;
    int Size = 0;
};

// One column of a temporary table.
struct TFieldDef {
    QString Name;
    TFieldType DataType = TFieldType::ftString;
    int Size = 0;
    bool Required = false;
};
using TFieldDefs = QList<TFieldDef>;
