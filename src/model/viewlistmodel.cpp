#include "model/viewlistmodel.h"

#include <QHashFunctions>

#include <algorithm>
#include <cstring>

namespace tsy {

namespace {
std::uint32_t hash_of(const QString& key) {
    return std::uint32_t(qHash(key));
}
} // namespace

size_t LineSet::find(const QString& key, std::uint32_t hash) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot s = m_slots[i];
        if (s.key == kEmpty || (s.hash == hash && m_keys.at(s.key) == key))
            return i;
    }
}

size_t LineSet::slotOf(std::uint32_t key) const {
    const size_t mask = m_slots.size() - 1;
    size_t i = m_hashes.at(key) & mask;
    while (m_slots[i].key != key)
        i = (i + 1) & mask;
    return i;
}

void LineSet::grow() {
    const size_t size = std::max<size_t>(64, m_slots.size() * 2);
    m_slots.assign(size, Slot());
    const size_t mask = size - 1;
    for (std::uint32_t k = 0; k < std::uint32_t(m_keys.size()); ++k) {
        size_t i = m_hashes.at(k) & mask;
        while (m_slots[i].key != kEmpty)
            i = (i + 1) & mask;
        m_slots[i] = Slot{m_hashes.at(k), k};
    }
}

bool LineSet::insert(const QString& key) {
    // At most half full, so that probes stay short.
    if (2 * (size_t(m_keys.size()) + 1) > m_slots.size())
        grow();
    const std::uint32_t hash = hash_of(key);
    Slot& s = m_slots[find(key, hash)];
    if (s.key != kEmpty)
        return false;
    s = Slot{hash, std::uint32_t(m_keys.size())};
    m_keys.append(key);
    m_hashes.append(hash);
    return true;
}

bool LineSet::contains(const QString& key) const {
    return !m_keys.isEmpty() && m_slots[find(key, hash_of(key))].key != kEmpty;
}

void LineSet::remove(const QString& key) {
    if (m_keys.isEmpty())
        return;
    const size_t mask = m_slots.size() - 1;
    size_t hole = find(key, hash_of(key));
    const std::uint32_t gone = m_slots[hole].key;
    if (gone == kEmpty)
        return;
    // Backward shift: each later key of the probe run that may live in the
    // hole moves into it, so that no lookup stops short at an empty slot.
    for (size_t j = (hole + 1) & mask; m_slots[j].key != kEmpty; j = (j + 1) & mask) {
        const size_t home = m_slots[j].hash & mask;
        const bool between = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (between)
            continue;
        m_slots[hole] = m_slots[j];
        hole = j;
    }
    m_slots[hole] = Slot();
    // The last key takes the place of the one removed.
    const std::uint32_t last = std::uint32_t(m_keys.size() - 1);
    if (gone != last) {
        m_slots[slotOf(last)].key = gone;
        m_keys[gone] = std::move(m_keys[last]);
        m_hashes[gone] = m_hashes.at(last);
    }
    m_keys.removeLast();
    m_hashes.removeLast();
}

void LineSet::clear() {
    m_slots.clear();
    m_keys.clear();
    m_hashes.clear();
}

QByteArray local_lines(const TextList& list) {
    const int n = list.count();
    qsizetype size = 0;
    for (int i = 0; i < n; ++i)
        size += list.text(i).size() + 1;
    QByteArray out;
    out.reserve(size);
    for (int i = 0; i < n; ++i) {
        const QString line = list.text(i);
        // ASCII reads the same in every local code; only other text is
        // encoded.
        const bool ascii =
            std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() < 0x80; });
        if (ascii) {
            const qsizetype at = out.size();
            out.resize(at + line.size());
            char* o = out.data() + at;
            for (const QChar c : line)
                *o++ = char(c.unicode());
        } else {
            out += line.toLocal8Bit();
        }
        out += '\n';
    }
    return out;
}

bool line_matches(const QString& line, const QString& pattern, bool foldCase) {
    if (foldCase)
        return line.toLower().contains(pattern, Qt::CaseSensitive);
    return line.contains(pattern, Qt::CaseSensitive);
}

ViewListModel::ViewListModel(QObject* parent) : QAbstractListModel(parent) {}

bool ViewListModel::lineLess(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

int ViewListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ViewListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ViewRow& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return r.line;
    case Qt::CheckStateRole:
        return r.checked ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool ViewListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= m_rows.size())
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    ViewRow& r = m_rows[index.row()];
    if (r.checked == checked)
        return true;
    r.checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit itemCheck(index.row());
    return true;
}

Qt::ItemFlags ViewListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

int ViewListModel::count() const {
    return int(m_rows.size() + m_pending.size());
}

QString ViewListModel::text(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->line : QString();
}

bool ViewListModel::isChecked(int row) const {
    return row >= 0 && row < m_rows.size() && m_rows.at(row).checked;
}

void ViewListModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).checked == checked)
        return;
    m_rows[row].checked = checked;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

void ViewListModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_pending.clear();
    m_folded.clear();
    endResetModel();
}

QString ViewListModel::lineOf(const QString& tag, const QString& host) {
    return tag + u':' + host;
}

const ViewRow* ViewListModel::rowAt(int row) const {
    if (row >= 0 && row < m_rows.size())
        return &m_rows.at(row);
    const qsizetype p = row - m_rows.size();
    if (row >= 0 && p < m_pending.size())
        return &m_pending.at(p);
    return nullptr;
}

QString ViewListModel::tag(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->tag : QString();
}

QString ViewListModel::host(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->host : QString();
}

bool ViewListModel::addView(const QString& tag, const QString& host) {
    const QString line = lineOf(tag, host);
    if (!m_folded.insert(folded(line)))
        return false;
    if (m_batch) {
        m_pending.append(ViewRow{line, tag, host, false});
        return true;
    }
    const auto at =
        std::upper_bound(m_rows.begin(), m_rows.end(), line,
                         [](const QString& l, const ViewRow& r) { return lineLess(l, r.line); });
    const int row = int(at - m_rows.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, ViewRow{line, tag, host, false});
    endInsertRows();
    return true;
}

void ViewListModel::beginBatch() {
    m_batch = true;
}

namespace {

// A line's place in the sort of a batch. Nearly every line is ASCII, and
// for two ASCII lines lineLess is a comparison of their bytes with the
// letters lowered, then of the lines as they are: those bytes are made once
// per line, not once per comparison.
struct SortKey {
    qsizetype at = 0;   // the lowered bytes in the batch's key buffer
    qsizetype size = 0; // -1: not ASCII, compared with lineLess
    qsizetype row = 0;
    // The first eight lowered bytes, the first the highest, zeros after a
    // shorter line: most comparisons end here, with no other memory read.
    std::uint64_t head = 0;
};

} // namespace

void ViewListModel::endBatch() {
    if (!m_batch)
        return;
    m_batch = false;
    if (m_pending.isEmpty())
        return;
    qsizetype total = 0;
    for (const ViewRow& r : std::as_const(m_pending))
        total += r.line.size();
    QByteArray lowered(total, Qt::Uninitialized);
    char* out = lowered.data();
    QList<SortKey> keys;
    keys.reserve(m_pending.size());
    for (qsizetype r = 0; r < m_pending.size(); ++r) {
        const QString& line = m_pending.at(r).line;
        SortKey k{out - lowered.constData(), line.size(), r};
        char* o = out;
        for (const QChar c : line) {
            const char16_t u = c.unicode();
            if (u >= 0x80) {
                k.size = -1;
                break;
            }
            *o++ = char(u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u);
        }
        if (k.size >= 0) {
            for (qsizetype i = 0; i < 8; ++i)
                k.head = k.head << 8 | (i < k.size ? std::uint8_t(out[i]) : 0u);
            out = o;
        }
        keys.append(k);
    }
    const char* const bytes = lowered.constData();
    const auto keyLess = [this, bytes](const SortKey& a, const SortKey& b) {
        if (a.size < 0 || b.size < 0)
            return lineLess(m_pending.at(a.row).line, m_pending.at(b.row).line);
        if (a.head != b.head)
            return a.head < b.head;
        const int c = std::memcmp(bytes + a.at, bytes + b.at, size_t(std::min(a.size, b.size)));
        if (c != 0)
            return c < 0;
        if (a.size != b.size)
            return a.size < b.size;
        return QString::compare(m_pending.at(a.row).line, m_pending.at(b.row).line,
                                Qt::CaseSensitive) < 0;
    };
    // No two lines of a batch are equal, so no sort can order them otherwise.
    std::sort(keys.begin(), keys.end(), keyLess);
    // The rows follow their keys, moved in place along each cycle of the
    // order found.
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (keys.at(i).row == i)
            continue;
        ViewRow held = std::move(m_pending[i]);
        for (qsizetype j = i;;) {
            const qsizetype from = std::exchange(keys[j].row, j);
            if (from == i) {
                m_pending[j] = std::move(held);
                break;
            }
            m_pending[j] = std::move(m_pending[from]);
            j = from;
        }
    }
    beginResetModel();
    if (m_rows.isEmpty()) {
        m_rows.swap(m_pending);
    } else {
        const auto less = [](const ViewRow& a, const ViewRow& b) {
            return lineLess(a.line, b.line);
        };
        QList<ViewRow> merged;
        merged.reserve(m_rows.size() + m_pending.size());
        std::merge(std::make_move_iterator(m_rows.begin()), std::make_move_iterator(m_rows.end()),
                   std::make_move_iterator(m_pending.begin()),
                   std::make_move_iterator(m_pending.end()), std::back_inserter(merged), less);
        m_rows.swap(merged);
    }
    m_pending.clear();
    endResetModel();
}

int ViewListModel::setCheckedWhere(bool checked, const std::function<bool(const QString&)>& pred) {
    int first = -1;
    int last = -1;
    int changed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        ViewRow& r = m_rows[i];
        if (pred && !pred(r.line))
            continue;
        ++changed;
        if (r.checked != checked) {
            r.checked = checked;
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first >= 0)
        emit dataChanged(index(first), index(last), {Qt::CheckStateRole});
    return changed;
}

int ViewListModel::removeWhere(const std::function<bool(const QString&)>& pred, int* currentRow) {
    if (m_rows.isEmpty())
        return 0;
    // First pass marks, so that the current row's new place is known
    // before anything moves.
    int newCurrent = -1;
    const int oldCurrent = currentRow ? *currentRow : -1;
    QList<bool> drop(m_rows.size(), false);
    int kept = 0;
    int removed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (pred(m_rows.at(i).line)) {
            drop[i] = true;
            ++removed;
        } else {
            if (i == oldCurrent)
                newCurrent = kept;
            ++kept;
        }
    }
    if (currentRow)
        *currentRow = newCurrent;
    if (removed == 0)
        return 0;
    beginResetModel();
    qsizetype out = 0;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (drop.at(i)) {
            m_folded.remove(folded(m_rows.at(i).line));
            continue;
        }
        if (out != i)
            m_rows[out] = std::move(m_rows[i]);
        ++out;
    }
    m_rows.resize(out);
    endResetModel();
    return removed;
}

} // namespace tsy
