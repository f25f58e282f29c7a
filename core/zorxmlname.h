// Property keys as XML element names.
//
// A module keeps each property as an element named by its key under the
// "properties" element of its module element. Keys come from module
// constructors, panels and scripts (KM_SETPROPERTY), and not every key is a
// legal XML name: "Accel/Decel" written raw would make the project file
// unreadable. A key made of ASCII letters, digits, "_", "-" and "." that
// starts with a letter or "_" (the usual case, and the keys of projects
// written before) is stored unchanged. In any other key each character that
// may not stand at its place is written as "_xHHHH_" (its code point in
// upper-case hex, eight digits beyond the 16-bit range), and so is the "_"
// that begins a literal "_xHHHH_" in the key, so that every stored name
// reads back as exactly its key: "Accel/Decel" is stored as
// "Accel_x002F_Decel".
//
// Letters beyond ASCII are encoded too, although XML allows many of them:
// the XML parsers disagree on which. So is the colon: with namespace
// processing a name holding one would need a declared prefix.
#pragma once

#include <QString>

class ZorXmlName
{
public:
    // The element name under which `key` is stored.
    static QString encode(const QString &key);
    // The key stored under the element name `name`.
    static QString decode(const QString &name);
    // Whether `text` is stored unencoded: ASCII name characters only.
    static bool isName(const QString &text);
};
