#pragma once

// The fix_prot command as a program and an argument list, and the checks
// that the storage path found for a view is safe to repair.

#include <QString>
#include <QStringList>

namespace tsy::fixprot {

// The default arguments of the "fix_prot" action.
QString default_args();

// The words of the arguments box, split once with the usual quoting rules.
// The "<arguments>" placeholder stands for no arguments.
QStringList argument_words(const QString& argsText);

// The utility's path under the installation directory.
QString program_path(const QString& cchome);

// The storage path that `lsview TAG` output gives for tag, from the
// earliest path marker on, or empty with the reason in error. The output
// must be one line naming tag itself, and the path must not be the file
// system root (or a share's root) nor climb out with "..".
QString storage_from_lookup(const QString& output, const QString& tag, QString& error);

} // namespace tsy::fixprot
