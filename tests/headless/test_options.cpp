// SPDX-License-Identifier: Apache-2.0
// The headless command line read and checked without starting anything.
#include "headless/options.h"

#include <gtest/gtest.h>

using namespace tsy::headless;

namespace {
ParsedOptions parse(const QStringList& args) {
    return parse_options(QStringList{QStringLiteral("tessaly")} + args);
}
QString error_of(const QStringList& args) {
    return parse(args).error;
}
} // namespace

TEST(Options, ARepairTakesItsPicksCapsAndFormat) {
    const ParsedOptions p =
        parse({QStringLiteral("--repair"), QStringLiteral("--match"), QStringLiteral("_build"),
               QStringLiteral("--host"), QStringLiteral("a"), QStringLiteral("--host"),
               QStringLiteral("b"), QStringLiteral("--jobs"), QStringLiteral("8"),
               QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--tags"),
               QStringLiteral("-"), QStringLiteral("--exclude"), QStringLiteral("_tmp"),
               QStringLiteral("--exclude"), QStringLiteral("old")});
    ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    const Options& o = p.options;
    EXPECT_TRUE(o.repair && o.hasMatch && o.hasTags);
    EXPECT_EQ(o.match, QStringLiteral("_build"));
    EXPECT_EQ(o.hosts, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(o.tagsFile, QStringLiteral("-"));
    EXPECT_EQ(o.excludes, (QStringList{QStringLiteral("_tmp"), QStringLiteral("old")}));
    EXPECT_TRUE(o.tags.isEmpty()) << "the tags file is read later, not by the parser";
    EXPECT_EQ(o.jobs, 8);
    EXPECT_EQ(o.perHost, 1);
    EXPECT_EQ(o.format, Format::Json);
}

TEST(Options, WhatWouldRunTheWrongViewsIsRefused) {
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{}, "say --list, --repair or --check"},
        {{QStringLiteral("--list"), QStringLiteral("--repair")}, "say --list, --repair or --check"},
        {{QStringLiteral("--repair")}, "--repair needs --all or --match"},
        {{QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--match"),
          QStringLiteral("x")},
         "--repair needs --all or --match"},
        {{QStringLiteral("--repair"), QStringLiteral("--match"), QString()},
         "--match needs a pattern"},
        {{QStringLiteral("--repair"), QStringLiteral("--host"), QString()}, "--host needs a host"},
        {{QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--exclude"),
          QString()},
         "--exclude needs a pattern"},
        {{QStringLiteral("--repair"), QStringLiteral("--exclude"), QStringLiteral("x")},
         "--repair needs --all or --match"},
        {{QStringLiteral("--list"), QStringLiteral("--exclude"), QStringLiteral("x")},
         "--list takes no other option"},
        {{QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("--dry-run")},
         "--check changes nothing"},
        {{QStringLiteral("--list"), QStringLiteral("--needed")}, "--needed goes with --repair"},
        {{QStringLiteral("--list"), QStringLiteral("--jobs"), QStringLiteral("2")},
         "--list takes no other option"},
        {{QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--jobs"),
          QStringLiteral("0")},
         "--jobs and --per-host take a whole number"},
        {{QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("--format"),
          QStringLiteral("xml")},
         "--format is text or json, not xml"},
        {{QStringLiteral("--repair"), QStringLiteral("--all"), QStringLiteral("stray")},
         "unexpected argument: stray"},
    };
    for (const auto& c : cases) {
        const QString error = error_of(c.args);
        EXPECT_TRUE(error.startsWith(QString::fromLatin1(c.says)))
            << c.args.join(u' ').toStdString() << ": " << error.toStdString();
    }
}

TEST(Options, QuietCountsToTwoAndAnUnknownOptionPointsToHelp) {
    EXPECT_EQ(parse({QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("-qq"),
                     QStringLiteral("--quiet")})
                  .options.quiet,
              2);
    EXPECT_EQ(parse({QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("-q")})
                  .options.quiet,
              1);
    EXPECT_EQ(error_of({QStringLiteral("--bogus")}),
              QStringLiteral("Unknown option 'bogus'. (tessaly --help lists the options)"));
    EXPECT_TRUE(error_of({QStringLiteral("--list"), QStringLiteral("--quiet")})
                    .startsWith(QStringLiteral("--list takes no other option")));
    EXPECT_TRUE(error_of({QStringLiteral("--list"), QStringLiteral("--log"), QString()})
                    .startsWith(QStringLiteral("--log needs a file name")));
}

TEST(Options, HelpAndVersionEndBeforeAnyCheck) {
    const ParsedOptions help =
        parse({QStringLiteral("--help"), QStringLiteral("--jobs"), QStringLiteral("0")});
    EXPECT_TRUE(help.help);
    EXPECT_TRUE(help.error.isEmpty());
    EXPECT_TRUE(help.helpText.contains(QStringLiteral("Exit status:")));
    EXPECT_TRUE(parse({QStringLiteral("--version")}).version);
}
