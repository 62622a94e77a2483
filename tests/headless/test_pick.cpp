// SPDX-License-Identifier: Apache-2.0
// Which views of a listing a run picks, without ClearCase.
#include "headless/pick.h"
#include "model/viewlistmodel.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

using namespace tsy::headless;
using tsy::model::ViewListModel;

namespace {
QString s(const char* text) {
    return QString::fromUtf8(text);
}

QStringList words(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out.append(s(t));
    return out;
}

// A listing of tag:host views, in the list's own (sorted) order.
struct Listing {
    ViewListModel list;
    explicit Listing(std::initializer_list<std::pair<const char*, const char*>> views,
                     bool caseSensitive = true) {
        list.setCaseSensitiveTags(caseSensitive);
        for (const auto& [tag, host] : views)
            list.addView(s(tag), s(host));
    }
    // The lines of the rows picked.
    QStringList lines(const Picked& p) const {
        QStringList out;
        for (int row : p.rows)
            out.append(list.text(row));
        return out;
    }
};

Options repairing() {
    Options o;
    o.repair = true;
    return o;
}
Options matching(const char* pattern, bool ignoreCase = false) {
    Options o = repairing();
    o.hasMatch = true;
    o.match = s(pattern);
    o.ignoreCase = ignoreCase;
    return o;
}
Options with_tags(Options o, std::initializer_list<const char*> tags) {
    o.hasTags = true;
    o.tagsFile = s("picks");
    o.tags = words(tags);
    return o;
}
} // namespace

TEST(Pick, EachPickTakesItsViewsInListOrderAndTogetherTheyNarrow) {
    const Listing l({{"rel_a", "h1"}, {"dev_b", "h2"}, {"Dev_a", "h1"}, {"dev_c", "H1"}});
    Options all = repairing();
    all.all = true;
    EXPECT_EQ(l.lines(pick(all, l.list, {}, true)),
              words({"Dev_a:h1", "dev_b:h2", "dev_c:H1", "rel_a:h1"}));
    // A pattern is a plain substring of the whole line, host included.
    EXPECT_EQ(l.lines(pick(matching("dev"), l.list, {}, true)), words({"dev_b:h2", "dev_c:H1"}));
    EXPECT_EQ(l.lines(pick(matching("DEV", true), l.list, {}, true)),
              words({"Dev_a:h1", "dev_b:h2", "dev_c:H1"}));
    EXPECT_EQ(l.lines(pick(matching("a:h"), l.list, {}, true)), words({"Dev_a:h1", "rel_a:h1"}));
    EXPECT_EQ(l.lines(pick(matching("[a]"), l.list, {}, true)), QStringList()) << "no wildcards";
    // --host is exact and repeatable, and narrows --all or --match.
    Options hosts = matching("dev");
    hosts.hosts = words({"h1", "h2"});
    EXPECT_EQ(l.lines(pick(hosts, l.list, {}, true)), words({"dev_b:h2"}));
    all.hosts = words({"h1"});
    EXPECT_EQ(l.lines(pick(all, l.list, {}, true)), words({"Dev_a:h1", "rel_a:h1"}));
    // --tags by tag or by the line --list prints, alone or narrowing.
    EXPECT_EQ(l.lines(pick(with_tags(repairing(), {"rel_a", "dev_c:H1"}), l.list, {}, true)),
              words({"dev_c:H1", "rel_a:h1"}));
    EXPECT_EQ(l.lines(pick(with_tags(matching("dev"), {"rel_a", "dev_b"}), l.list, {}, true)),
              words({"dev_b:h2"}));
}

TEST(Pick, TagsNamingNoListedViewAreToldOnceAndLetterCaseCountsOnlyOnUnix) {
    const Listing onUnix({{"dev_a", "h1"}, {"rel_c", "h1"}});
    const Picked p = pick(with_tags(repairing(), {"nope", "DEV_A", "rel_c:h2", "nope", "dev_a"}),
                          onUnix.list, {}, true);
    EXPECT_EQ(onUnix.lines(p), words({"dev_a:h1"}));
    EXPECT_EQ(p.unknown, words({"nope", "DEV_A", "rel_c:h2"}));
    EXPECT_TRUE(p.noMatch.isEmpty());
    // Windows tags ignore case: DEV_A is dev_a.
    const Listing windows({{"dev_a", "h1"}}, false);
    const Picked w = pick(with_tags(repairing(), {"DEV_A:H1"}), windows.list, {}, false);
    EXPECT_EQ(windows.lines(w), words({"dev_a:h1"}));
    EXPECT_TRUE(w.unknown.isEmpty());
}

TEST(Pick, AnUnreadViewIsKeptWhenItsTagMayBePicked) {
    const Listing l({{"dev_a", "h1"}});
    const QStringList unread = words({"dev_x", "rel_y", "Dev_z"});
    Options all = repairing();
    all.all = true;
    EXPECT_EQ(pick(all, l.list, unread, true).unread, unread);
    EXPECT_EQ(pick(matching("dev"), l.list, unread, true).unread, words({"dev_x"}));
    EXPECT_EQ(pick(matching("dev", true), l.list, unread, true).unread, words({"dev_x", "Dev_z"}));
    // A pattern that reaches past the tag may match the unknown host.
    EXPECT_EQ(pick(matching("y:h"), l.list, unread, true).unread, unread);
    // The host of an unread view is unknown: --host keeps it.
    Options host = repairing();
    host.hosts = words({"h9"});
    EXPECT_EQ(pick(host, l.list, unread, true).unread, unread);
    // --tags keeps the views it names, by tag or by a tag:host line.
    EXPECT_EQ(pick(with_tags(repairing(), {"rel_y:h3", "dev_z"}), l.list, unread, true).unread,
              QStringList{s("rel_y")});
    EXPECT_EQ(pick(with_tags(repairing(), {"dev_z"}), l.list, unread, false).unread,
              QStringList{s("Dev_z")});
}

TEST(Pick, ANarrowingPickThatMatchesNothingIsNamedAsGiven) {
    const Listing l({{"dev_a", "h1"}});
    Options o = matching("_biuld", true);
    o.hosts = words({"h1", "h2"});
    const Picked p = pick(with_tags(o, {"x"}), l.list, {}, true);
    EXPECT_TRUE(p.rows.isEmpty());
    EXPECT_EQ(p.noMatch, words({"--match", "_biuld", "--ignore-case", "--host", "h1", "--host",
                                "h2", "--tags", "picks"}));
    // An empty region is no failure of --all.
    const Listing empty({});
    Options all = repairing();
    all.all = true;
    EXPECT_TRUE(pick(all, empty.list, {}, true).noMatch.isEmpty());
    EXPECT_FALSE(pick(matching("a"), empty.list, {}, true).noMatch.isEmpty());
}

TEST(Pick, ExcludeLeavesItsViewsOutOfEveryPickAndOfTheUnread) {
    const Listing l({{"dev_a", "h1"}, {"dev_tmp", "h1"}, {"rel_a", "h2"}, {"Rel_TMP", "h2"}});
    const auto excluding = [](Options o, std::initializer_list<const char*> patterns) {
        o.excludes = words(patterns);
        return o;
    };
    Options all = repairing();
    all.all = true;
    EXPECT_EQ(l.lines(pick(excluding(all, {"_tmp"}), l.list, {}, true)),
              words({"dev_a:h1", "rel_a:h2", "Rel_TMP:h2"}));
    Options allFolded = excluding(all, {"_TMP"});
    allFolded.ignoreCase = true;
    EXPECT_EQ(l.lines(pick(allFolded, l.list, {}, true)), words({"dev_a:h1", "rel_a:h2"}));
    // Like --match, a pattern reaches into the host.
    EXPECT_EQ(l.lines(pick(excluding(all, {"a:h"}), l.list, {}, true)),
              words({"dev_tmp:h1", "Rel_TMP:h2"}));
    EXPECT_EQ(l.lines(pick(excluding(matching("dev"), {"tmp"}), l.list, {}, true)),
              words({"dev_a:h1"}));
    Options host = excluding(repairing(), {"TMP"});
    host.hosts = words({"h2"});
    EXPECT_EQ(l.lines(pick(host, l.list, {}, true)), words({"rel_a:h2"}));
    const Picked none = pick(
        excluding(with_tags(repairing(), {"dev_tmp", "rel_a"}), {"_tmp", "rel"}), l.list, {}, true);
    EXPECT_TRUE(none.rows.isEmpty());
    EXPECT_EQ(none.noMatch, words({"--tags", "picks", "--exclude", "_tmp", "--exclude", "rel"}));
    // An unread view is left out only when its tag holds the pattern.
    EXPECT_EQ(pick(excluding(all, {"_tmp", "y:h"}), l.list, words({"x_tmp", "y"}), true).unread,
              words({"y"}));
    // Excluding every view is said; an empty region is still no failure.
    EXPECT_EQ(pick(excluding(all, {":"}), l.list, {}, true).noMatch, words({"--exclude", ":"}));
    const Listing empty({});
    EXPECT_TRUE(pick(excluding(all, {"x"}), empty.list, {}, true).noMatch.isEmpty());
}
