#include "zormigration.h"

namespace {

struct Rename
{
    const char *from;
    const char *to;
};

// Order matters: each rule works on the text the rules before it left.
const Rename kProjectRenames[] = {
    {"TovistepProject", "QuorvaneProject"},
    {"type=\"drive_ruxa_", "type=\"drive_canopen_"},
    {"zorEditStat=\"", "zorStatusTxt=\""},
    {"zorEditStatTxt=\"", "zorStatus=\""},
    {"zorEditFeatures=\"", "zorUiFormat=\""},
    {"zorEditStyle=\"", "zorUiFormat=\""},
    {"type=\"pythoneditor_drive\"", "type=\"drive_canopen_python\""},
    {"type=\"pythoneditor_pc\"", "type=\"automation_python\""},
    {"type=\"automation_setup\"", "type=\"automation_python\""},
    {"type=\"datalog_viewer\"", "type=\"datalog\""},
    {"type=\"vedozovo_control\"", "type=\"nodeconfig\""},
    {"type=\"vedozovo_control_setup\"", "type=\"drive_canopen_setup\""},
    {"type=\"vedozovo_control_objects\"", "type=\"drive_canopen_objects\""},
};

const Rename kScriptRenames[] = {
    {"import Tovistep", "import Quorvane"},
    {"from Tovistep", "from Quorvane"},
};

template <std::size_t N>
void applyRenames(QString &text, const Rename (&renames)[N])
{
    for (const Rename &r : renames)
        text.replace(QLatin1String(r.from), QLatin1String(r.to), Qt::CaseSensitive);
}

} // namespace

void upgradeProjectText(QString &text)
{
    applyRenames(text, kProjectRenames);
}

void upgradeScriptText(QString &text)
{
    applyRenames(text, kScriptRenames);
}
