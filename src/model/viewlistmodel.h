#pragma once

#include "model/textlist.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace tsy {

// One line of the view list: the view's tag and host, the "tag:host" line
// shown for them, and its check mark. The tag is kept as ClearCase gave
// it: a tag may hold a colon, so it is never cut back out of the line.
struct ViewRow {
    QString line;
    QString tag;
    QString host;
    bool checked = false;
};

} // namespace tsy

Q_DECLARE_TYPEINFO(tsy::ViewRow, Q_RELOCATABLE_TYPE);

namespace tsy {

// The set of (case-folded) lines behind the duplicate test. The table
// holds only each key's hash and its place in a list of the keys, so that
// it stays small and growing it never reads a string again: a load of tens
// of thousands of views spends its time on the views, not on rehashing.
class LineSet {
public:
    // Adds key unless it is there; returns whether it was added.
    bool insert(const QString& key);
    bool contains(const QString& key) const;
    void remove(const QString& key);
    void clear();

private:
    static constexpr std::uint32_t kEmpty = 0xffffffffu;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t key = kEmpty; // its place in m_keys
    };
    // The slot holding key, or the empty slot where it would go.
    size_t find(const QString& key, std::uint32_t hash) const;
    // The slot of the key at m_keys[key].
    size_t slotOf(std::uint32_t key) const;
    void grow();

    std::vector<Slot> m_slots; // open addressing, linear probing; a power of two
    QList<QString> m_keys;
    QList<std::uint32_t> m_hashes; // of m_keys, place by place
};

// Every line of list, each ended by a line feed, in the local 8-bit code:
// what a listing prints, made in one buffer sized once.
QByteArray local_lines(const TextList& list);

// Whether pattern occurs in line as a contiguous substring, no wildcards:
// the rule of Select All by pattern, Find and Filter. With foldCase the line
// is lower-cased first; the caller lower-cases the pattern once for a walk.
bool line_matches(const QString& line, const QString& pattern, bool foldCase);

// The check-box list of view lines. Lines are kept sorted alphabetically,
// ignoring letter case, and no two lines are equal when case is ignored,
// unless tags are case-sensitive (UNIX ClearCase: "Rel:h" and "rel:h" are
// two views), when only exact duplicates are dropped. A hash set of the
// (case-folded) lines answers the duplicate test, so loading many
// thousands of views stays linear.
class ViewListModel : public QAbstractListModel, public TextList {
    Q_OBJECT

public:
    explicit ViewListModel(QObject* parent = nullptr);

    // Whether lines differing only in letter case are different views. Set
    // while the list is empty.
    void setCaseSensitiveTags(bool on) { m_caseSensitive = on; }

    // The sort order: case-insensitive, ties broken by the exact text so
    // that the order is total.
    static bool lineLess(const QString& a, const QString& b);

    // QAbstractListModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // TextList
    int count() const override;
    QString text(int row) const override;

    bool isChecked(int row) const;
    void setChecked(int row, bool checked);

    void clear();

    // Puts the view's line at its sorted place unless the list holds it
    // already (ignoring case). Returns whether it was added.
    bool addView(const QString& tag, const QString& host);
    // The line of a view: tag, ":" and host.
    static QString lineOf(const QString& tag, const QString& host);

    // The stored tag and host of a row.
    QString tag(int row) const;
    QString host(int row) const;

    // While a batch is open, added lines are collected and merged into
    // their sorted places when it ends: one model reset instead of one
    // insertion per line. The resulting order is the same.
    void beginBatch();
    void endBatch();
    bool inBatch() const { return m_batch; }

    // Sets the mark of every row whose line satisfies pred (all rows when
    // pred is empty), announcing the change once. Returns the rows set.
    int setCheckedWhere(bool checked, const std::function<bool(const QString&)>& pred);

    // Removes every row whose line satisfies pred, with its mark, in one
    // pass. currentRow, if given, is moved to the row's new position, or
    // to -1 when that row went. Returns the number of rows removed.
    int removeWhere(const std::function<bool(const QString&)>& pred, int* currentRow = nullptr);

signals:
    // The user changed the mark of one row through the view.
    void itemCheck(int row);

private:
    const ViewRow* rowAt(int row) const;
    QString folded(const QString& line) const {
        return m_caseSensitive ? line : line.toCaseFolded();
    }

    QList<ViewRow> m_rows;
    LineSet m_folded;
    bool m_caseSensitive = false;
    QList<ViewRow> m_pending;
    bool m_batch = false;
};

} // namespace tsy
