// SPDX-License-Identifier: Apache-2.0
#include "pick.h"

#include "model/viewlistmodel.h"

#include <QSet>

namespace tsy::headless {

using model::line_matches;

// A line of the file names a view by its tag or by its tag:host line.
Picked pick(const Options& o, const model::ViewListModel& list, const QStringList& unread,
            bool caseSensitiveTags) {
    Picked picked;
    const bool folded = !caseSensitiveTags;
    const auto key = [folded](const QString& t) {
        return folded ? t.toCaseFolded() : t;
    };
    QSet<QString> wanted;     // tags and lines of the file
    QSet<QString> wantedTags; // and the tags of its lines, for unread views
    if (o.hasTags) {
        QSet<QString> listed;
        for (int i = 0; i < list.count(); ++i) {
            listed.insert(key(list.tag(i)));
            listed.insert(key(list.text(i)));
        }
        QSet<QString> told;
        for (const QString& t : o.tags) {
            wanted.insert(key(t));
            wantedTags.insert(key(t));
            if (t.contains(u':'))
                wantedTags.insert(key(t.section(u':', 0, -2)));
            if (!listed.contains(key(t)) && !told.contains(key(t))) {
                told.insert(key(t));
                picked.unknown.append(t);
            }
        }
    }
    const QString pattern = o.ignoreCase ? o.match.toLower() : o.match;
    QStringList excludes = o.excludes;
    if (o.ignoreCase) {
        for (QString& e : excludes)
            e = e.toLower();
    }
    const auto excluded = [&](const QString& line) {
        for (const QString& e : std::as_const(excludes))
            if (line_matches(line, e, o.ignoreCase))
                return true;
        return false;
    };
    bool excludedAny = false; // an empty region is no failure of --all --exclude
    for (int i = 0; i < list.count(); ++i) {
        if (o.hasMatch && !line_matches(list.text(i), pattern, o.ignoreCase))
            continue;
        if (!o.hosts.isEmpty() && !o.hosts.contains(list.host(i)))
            continue;
        if (o.hasTags && !wanted.contains(key(list.tag(i))) && !wanted.contains(key(list.text(i))))
            continue;
        if (excluded(list.text(i))) {
            excludedAny = true;
            continue;
        }
        picked.rows.append(i);
    }
    // An unread view's host is not known: it is kept when its tag may be
    // picked, and a pattern that reaches past the tag may match. One is
    // left out when its tag alone holds an --exclude pattern: so does its
    // line.
    for (const QString& name : unread) {
        if (o.hasMatch && !o.match.contains(u':') && !line_matches(name, pattern, o.ignoreCase))
            continue;
        if (o.hasTags && !wantedTags.contains(key(name)))
            continue;
        if (excluded(name))
            continue;
        picked.unread.append(name);
    }
    const bool narrowed = o.hasMatch || !o.hosts.isEmpty() || o.hasTags || excludedAny;
    if (picked.rows.isEmpty() && narrowed) {
        if (o.hasMatch)
            picked.noMatch << QStringLiteral("--match") << o.match;
        if (o.hasMatch && o.ignoreCase)
            picked.noMatch << QStringLiteral("--ignore-case");
        for (const QString& h : o.hosts)
            picked.noMatch << QStringLiteral("--host") << h;
        if (o.hasTags)
            picked.noMatch << QStringLiteral("--tags") << o.tagsFile;
        for (const QString& e : o.excludes)
            picked.noMatch << QStringLiteral("--exclude") << e;
        if (!o.hasMatch && !o.excludes.isEmpty() && o.ignoreCase)
            picked.noMatch << QStringLiteral("--ignore-case");
    }
    return picked;
}

} // namespace tsy::headless
