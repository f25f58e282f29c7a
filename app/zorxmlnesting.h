// The nesting limit of project texts.
//
// A project document is parsed into a DOM and then walked recursively (the
// DOM parser itself, the module depths, the tree items, the module host), so
// a file that nests thousands of modules would exhaust the stack and take
// seconds to parse. Before any of that, the text is scanned once, without
// recursion and without judging it otherwise (so that every project the
// parser reads stays readable), and refused when its "module" elements nest
// deeper than
// MaxModuleDepth (no real project comes near: a project module, a gateway, a
// node) or any elements deeper than MaxElementDepth (stored panel pages hold
// HTML of their own). Module text from the clipboard is checked the same way
// with the room that is left below the place where it lands.
#pragma once

#include <QString>

class ZorXmlNesting
{
public:
    static constexpr int MaxModuleDepth = 64;
    static constexpr int MaxElementDepth = 512;

    enum Result { Allowed, TooDeep, DeclaresEntities };

    // Scans `text`: TooDeep when "module" elements nest deeper than
    // `maxModuleDepth` (the project module counts as one level) or elements
    // deeper than MaxElementDepth; DeclaresEntities when a document type
    // declares entities (their text could hold markup beyond the scan's
    // sight; projects use none). Stops at the first level too deep, so a
    // hostile text is refused at once, whatever its size. Whether the text
    // is well-formed is left to the parser.
    static Result check(const QString &text, int maxModuleDepth = MaxModuleDepth);
};
