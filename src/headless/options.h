// SPDX-License-Identifier: Apache-2.0
#pragma once

// What a headless run was asked for: its command line read and checked,
// with no file read and nothing started, so that it can be tested alone.

#include "report.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace tsy::headless {

struct Options {
    bool list = false;
    bool repair = false;
    bool check = false;  // --check: inspect only
    bool needed = false; // --repair --needed: inspect, then repair what needs it
    bool all = false;
    bool dryRun = false;
    bool ignoreCase = false;
    bool hasMatch = false;
    QString match;
    QStringList excludes; // --exclude: the views whose line contains one are left out
    bool hasArgs = false;
    QString args;
    QStringList hosts; // --host: exact server host names
    bool hasTags = false;
    QString tagsFile;
    QStringList tags; // --tags: the file's lines, in its order
    int jobs = 1;
    int perHost = 1;
    Format format = Format::Text;
    bool hasFailedTo = false;
    QString failedTo;
    int quiet = 0;        // --quiet once: only the views that did not end well; twice: and
                          // no summary either when all ended well
    bool verbose = false; // --verbose: the command log on stderr too
    bool hasLog = false;  // --log FILE: the command log appended to FILE
    QString logFile;
    bool shareSsh = false; // --share-ssh: one ssh connection per host (TESSALY_SHARE_SSH=1)
};

struct ParsedOptions {
    Options options;
    QString error;        // why the command line is refused; empty when it is not
    bool help = false;    // --help: print helpText and end
    bool version = false; // --version
    QString helpText;
};

// The options of arguments (the program's name first). --tags' file is
// named but not read, and --failed-to is not probed: those come after.
ParsedOptions parse_options(const QStringList& arguments);

// The options as the JSON summary records them.
QJsonObject options_json(const Options& o);

} // namespace tsy::headless
