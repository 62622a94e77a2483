// SPDX-License-Identifier: Apache-2.0
#include "process/commandline.h"
#include "qtprint.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace tsy;

TEST(CommandLine, EitherQuotingSplitsBackIntoTheWordsAndLeavesPlainWordsAlone) {
    using process::Quoting;
    const QStringList words{QStringLiteral("/opt/cc home/fp"),     QStringLiteral("-chown"),
                            QStringLiteral("it's \"odd\" $x;`y`"), QStringLiteral("a\tb"),
                            QStringLiteral("say \"\"\" thrice"),   QStringLiteral("/vws/a.vws")};
    const QString forQt = process::quoted_command(words, Quoting::SplitCommand);
    EXPECT_EQ(QProcess::splitCommand(forQt), words) << forQt.toStdString();
    EXPECT_TRUE(forQt.startsWith(QStringLiteral("\"/opt/cc home/fp\" -chown ")));
    EXPECT_TRUE(forQt.endsWith(QStringLiteral(" /vws/a.vws")));

    const QString forShell = process::quoted_command(words, Quoting::Shell);
    const Result<QStringList> back = process::shell_words(forShell);
    ASSERT_TRUE(back.ok()) << back.error().toStdString();
    EXPECT_EQ(back.value(), words) << forShell.toStdString();
    EXPECT_TRUE(forShell.startsWith(QStringLiteral("'/opt/cc home/fp' -chown 'it'\\''s ")));

    for (const Quoting q : {Quoting::Shell, Quoting::SplitCommand}) {
        EXPECT_EQ(process::quoted_word(QStringLiteral("-force"), q), QStringLiteral("-force"));
        EXPECT_EQ(process::quoted_command({}, q), QString());
        EXPECT_EQ(process::quoted_command({QStringLiteral("x")}, q), QStringLiteral("x"));
    }
}
