// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "model/textlist.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tsy::model {

// The text of every line of a list, in blocks of UTF-16 that never move, so
// that a line costs its characters and a 32-bit handle: no allocation of
// its own. A line is stored once and read back as a view.
class LineStore {
public:
    using Handle = std::uint32_t;
    static constexpr Handle kNone = 0xffffffffu;

    // Stores line; kNone when the store is full (4 Gi characters).
    Handle add(QStringView line);
    QStringView at(Handle h) const;
    void clear();

private:
    // 32 Ki characters a block; a longer line has a block of its own.
    static constexpr int kOffsetBits = 15;
    static constexpr qsizetype kBlockChars = qsizetype(1) << kOffsetBits;
    // Each line is preceded by its length, in two characters.
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    qsizetype m_used = kBlockChars; // in the last block; full when empty
};

// One line of the view list: its "tag:host" text in the model's store, the
// length of the tag, its place in the order the lines were added, and its
// check mark. The tag is kept as ClearCase gave it: a tag may hold a colon,
// so it is never cut back out at a colon; the host starts after the tag's
// own length and the colon.
struct ViewRow {
    LineStore::Handle line = LineStore::kNone;
    std::uint32_t tagSize = 0;
    // Beside the check mark, in the same 32 bits: 12 bytes a row.
    std::uint32_t arrival : 31 = 0;
    std::uint32_t checked : 1 = 0;
};

// A line's place in the sort of a batch. Nearly every line is ASCII, and
// for two ASCII lines the order is a comparison of their characters with
// the letters lowered, then of the lines as they are.
struct BatchKey {
    // The first eight lowered characters of an ASCII line, a byte each,
    // the first the highest, zeros after a shorter line: most comparisons
    // end here, with no other memory read. Held in two halves, so that a
    // key takes 12 bytes.
    std::uint32_t headHigh = 0;
    std::uint32_t headLow = 0;
    std::uint32_t row : 31 = 0; // in the batch's rows, in the order they came
    std::uint32_t ascii : 1 = 1;

    std::uint64_t head() const { return std::uint64_t(headHigh) << 32 | headLow; }
};

// The set of lines behind the duplicate test, folded for case unless told
// otherwise. Its table holds only each line's hash and handle: the text is
// read from the store, so the set adds 16 bytes or less a line.
class LineSet {
public:
    explicit LineSet(const LineStore& store) : m_store(store) {}
    void setFoldCase(bool on) { m_foldCase = on; }

    std::uint32_t hashOf(QStringView line) const;
    // Whether a line equal to line (by the set's rule) is there.
    bool contains(QStringView line, std::uint32_t hash) const;
    // Adds the stored line at h, known not to be there, whose hash is hash.
    void insert(LineStore::Handle h, std::uint32_t hash);
    void clear();

private:
    struct Slot {
        std::uint32_t hash = 0;
        LineStore::Handle line = LineStore::kNone;
    };
    bool same(QStringView a, QStringView b) const;
    void grow();

    const LineStore& m_store;
    bool m_foldCase = true;
    std::vector<Slot> m_slots; // open addressing, linear probing; a power of two
    size_t m_size = 0;
};

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
    void setCaseSensitiveTags(bool on) { m_folded.setFoldCase(!on); }

    // The sort order: case-insensitive, ties broken by the exact text so
    // that the order is total.
    static bool lineLess(QStringView a, QStringView b);

    // QAbstractListModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // TextList
    int count() const override;
    QString text(int row) const override;
    // The line of a row without a copy, valid until the list next changes.
    QStringView line(int row) const;

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
    // How many lines were added before the row's own since the list was
    // last cleared: what was kept of a view as it came is found again in
    // the sorted list.
    std::uint32_t arrival(int row) const;

    // While a batch is open, added lines are collected and merged into
    // their sorted places when it ends: one model reset instead of one
    // insertion per line. The resulting order is the same. The lines are
    // sorted in runs as they come, so that its end has only the runs to
    // merge: a listing's lines come while cleartool still writes.
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
    QStringView lineOfRow(const ViewRow& r) const { return m_store.at(r.line); }
    // Keeps only the rows given, in their order, in a store and set made
    // anew, so that removed lines give their memory back.
    void rebuild(QList<ViewRow>&& rows);
    bool keyLess(const BatchKey& a, const BatchKey& b) const;
    // Sorts the batch's lines added since the last run.
    void sortRun();

    LineStore m_store;
    LineSet m_folded{m_store};
    QList<ViewRow> m_rows;
    QList<ViewRow> m_pending;
    std::vector<BatchKey> m_keys; // of m_pending: sorted up to m_runStart, in runs
    std::size_t m_runStart = 0;
    std::uint32_t m_added = 0; // lines added since the last clear
    bool m_batch = false;
};

// Every line of list, each ended by a line feed, in the local 8-bit code:
// what a listing prints, made in one buffer sized once.
QByteArray local_lines(const ViewListModel& list);

} // namespace tsy::model
