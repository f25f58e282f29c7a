// Reads an electronic data sheet (EDS, CiA 306; also a DCF, which adds the
// configured values) into the object-table form of CiA 311 XML, so that the
// device dictionary shows EDS files like XDD files.
//
// Every section named by an index ("[1018]") becomes a "CANopenObject",
// every "[1018sub1]" a "CANopenSubObject" of it, in index and subindex
// order: ParameterName -> name, ObjectType -> objectType (decimal; VAR when
// absent), DataType -> dataType (as written, "0x0007"), AccessType ->
// accessType (lower case), DefaultValue -> defaultValue, ParameterValue ->
// actualValue, LowLimit/HighLimit -> lowLimit/highLimit, PDOMapping ->
// PDOmapping ("no" or "optional"), SubNumber -> subNumber. Objects carry
// their index as four hexadecimal digits, sub-objects their subindex as two,
// as the XML files do. Keys are matched without regard to letter case;
// lines starting with ";" are comments. Sub-objects whose object has no
// section of its own are left out.
#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>

class ZorEdsReader
{
public:
    // False with a reason when the text holds no object section; doc then
    // stays as it was.
    static bool toObjectTable(const QByteArray &eds, QDomDocument &doc, QString *error = nullptr);
};
