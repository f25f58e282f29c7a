// Migration of texts written by earlier editions of the program.
//
// Old project files and scripts use older names: another project root
// element, older module-type keys and object-table attributes, and an older
// name of the program's Python module. Rather than parsing old files in
// another way, their text is rewritten to the current names before use. Both
// rewrites are plain replacements and leave a current text unchanged.
#pragma once

#include <QString>

// Rewrites the XML text of a project file; applied before the text is parsed.
void upgradeProjectText(QString &text);
// Rewrites the text of a Python script; applied before the script runs.
void upgradeScriptText(QString &text);
