#pragma once

#include <QString>

namespace tsy {
class frmMain;
}

namespace tsy::repair {

// The default arguments of the "fix_prot" action.
QString default_fix_prot_args();

void action_chosen(frmMain& w);
void run_mode_chosen(frmMain& w);

// "Execute": for every checked row, the storage lookup, fix_prot on the
// storage, then "endview -server TAG".
void execute_fix_prot(frmMain& w);

// A path as one command-line word: quoted when it holds a blank or a
// quote, by the platform's quoting rules, otherwise unchanged.
QString quote_path(const QString& path);

// The utility's command line: program, one blank, the argument text (none
// for the "<arguments>" placeholder), one blank, the storage path.
QString fix_prot_command_line(const QString& program, const QString& argsText,
                              const QString& storage);

} // namespace tsy::repair
