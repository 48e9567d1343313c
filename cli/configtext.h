#pragma once
// A module's configuration as scripts see it: named fields in a fixed order, printed as
// "key=value" lines or as JSON, and read back from either for a write.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include "model/configcodec.h"

using ConfigFields = QList<QPair<QString, QString>>;

ConfigFields ConfigToFields(const DecodedConfig& config);
QString FieldsToText(const ConfigFields& fields);
QJsonObject FieldsToJson(const ConfigFields& fields);

// Takes the fields of `file` over `fields`. "key=value" lines ('#' comments) may leave fields out,
// which keep their values; JSON must be whole, in the shape config read --json prints. False, with
// the reason naming the field or line, for an empty file, an unknown key, a key given twice, a
// value of the wrong type or one that cannot be written, and JSON of another shape.
bool MergeConfigFile(const QByteArray& file, ConfigFields& fields, QString* error);

// The texts a write is made of. A value that does not convert raises ConversionError on encoding.
ConfigTexts FieldsToTexts(const ConfigFields& fields);

// "key: old -> new" for every field that differs.
QStringList FieldDifferences(const ConfigFields& from, const ConfigFields& to);
