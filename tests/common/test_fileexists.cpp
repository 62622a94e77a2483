// SPDX-License-Identifier: Apache-2.0
#include "common/fileexists.h"
#include "homeenv.h"
#include "msgrecorder.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tsy;
using test::touch;

TEST(FileExists, MatchesGlobPatternsAndDirectoriesOnlyOnRequest) {
    test::MsgRecorder boxes;
    QTemporaryDir dir;
    const QString d = dir.path();
    touch(d + QStringLiteral("/tool-1.2"));
    QDir().mkpath(d + QStringLiteral("/sub"));
    touch(d + QStringLiteral("/.hidden"));
    const bool no = false, yes = true;
    EXPECT_TRUE(file_exists(d + QStringLiteral("/tool-1.2"), no));
    EXPECT_TRUE(file_exists(d + QStringLiteral("/tool-*"), no));
    EXPECT_TRUE(file_exists(d + QStringLiteral("/t??l-1.[0-9]"), no));
    EXPECT_FALSE(file_exists(d + QStringLiteral("/sub"), no));
    EXPECT_TRUE(file_exists(d + QStringLiteral("/sub"), yes));
    EXPECT_FALSE(file_exists(d + QStringLiteral("/.hidden"), no));
    EXPECT_FALSE(file_exists(d + QStringLiteral("/missing/tool"), no));
    // A link to a file counts; a dangling one does not.
    QFile::link(d + QStringLiteral("/tool-1.2"), d + QStringLiteral("/link"));
    QFile::link(d + QStringLiteral("/gone"), d + QStringLiteral("/dangling"));
    EXPECT_TRUE(file_exists(d + QStringLiteral("/link"), no));
    EXPECT_FALSE(file_exists(d + QStringLiteral("/dangling"), no));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}
