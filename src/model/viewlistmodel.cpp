// SPDX-License-Identifier: Apache-2.0
#include "model/viewlistmodel.h"

#include <QHashFunctions>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <limits>

namespace tsy::model {

LineStore::Handle LineStore::add(QStringView line) {
    const qsizetype need = line.size() + 2;
    if (need > std::numeric_limits<std::uint32_t>::max())
        return kNone;
    if (m_used + need > kBlockChars) {
        if (m_blocks.size() >= (size_t(1) << (32 - kOffsetBits)) - 1)
            return kNone;
        m_blocks.push_back(std::make_unique<char16_t[]>(size_t(std::max(need, kBlockChars))));
        m_used = 0;
    }
    char16_t* at = m_blocks.back().get() + m_used;
    const auto size = std::uint32_t(line.size());
    at[0] = char16_t(size & 0xffff);
    at[1] = char16_t(size >> 16);
    std::copy(line.utf16(), line.utf16() + line.size(), at + 2);
    const Handle h = Handle((m_blocks.size() - 1) << kOffsetBits | size_t(m_used));
    // A line longer than a block fills its own.
    m_used = need > kBlockChars ? kBlockChars : m_used + need;
    return h;
}

QStringView LineStore::at(Handle h) const {
    if (h == kNone)
        return {};
    const char16_t* p = m_blocks[h >> kOffsetBits].get() + (h & ((Handle(1) << kOffsetBits) - 1));
    const std::uint32_t size = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 16;
    return QStringView(p + 2, qsizetype(size));
}

void LineStore::clear() {
    m_blocks.clear();
    m_used = kBlockChars;
}

namespace {

bool is_ascii(QStringView s) {
    return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

char16_t lowered(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

// The case-folded text of line. An ASCII line is lowered into a buffer
// on the stack; other text goes through Qt's folding.
using Folded = QVarLengthArray<char16_t, 256>;
void fold_into(QStringView line, Folded& out) {
    if (is_ascii(line)) {
        out.resize(line.size());
        std::transform(line.utf16(), line.utf16() + line.size(), out.data(), lowered);
        return;
    }
    const QString f = line.toString().toCaseFolded();
    out.resize(f.size());
    std::copy(f.utf16(), f.utf16() + f.size(), out.data());
}

} // namespace

QByteArray local_lines(const ViewListModel& list) {
    const int n = list.count();
    qsizetype size = 0;
    for (int i = 0; i < n; ++i)
        size += list.line(i).size() + 1;
    QByteArray out;
    out.reserve(size);
    for (int i = 0; i < n; ++i) {
        const QStringView line = list.line(i);
        // ASCII reads the same in every local code; only other text is
        // encoded.
        if (is_ascii(line)) {
            const qsizetype at = out.size();
            out.resize(at + line.size());
            std::transform(line.utf16(), line.utf16() + line.size(), out.data() + at,
                           [](char16_t c) { return char(c); });
        } else {
            out += line.toLocal8Bit();
        }
        out += '\n';
    }
    return out;
}

std::uint32_t LineSet::hashOf(QStringView line) const {
    if (!m_foldCase)
        return std::uint32_t(qHash(line));
    Folded f;
    fold_into(line, f);
    return std::uint32_t(qHash(QStringView(f.constData(), f.size())));
}

bool LineSet::same(QStringView a, QStringView b) const {
    if (!m_foldCase)
        return a == b;
    Folded fa;
    Folded fb;
    fold_into(a, fa);
    fold_into(b, fb);
    return QStringView(fa.constData(), fa.size()) == QStringView(fb.constData(), fb.size());
}

bool LineSet::contains(QStringView line, std::uint32_t hash) const {
    if (m_slots.empty())
        return false;
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask; m_slots[i].line != LineStore::kNone; i = (i + 1) & mask) {
        if (m_slots[i].hash == hash && same(m_store.at(m_slots[i].line), line))
            return true;
    }
    return false;
}

void LineSet::grow() {
    std::vector<Slot> old(std::max<size_t>(64, m_slots.size() * 2));
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.line == LineStore::kNone)
            continue;
        size_t i = s.hash & mask;
        while (m_slots[i].line != LineStore::kNone)
            i = (i + 1) & mask;
        m_slots[i] = s;
    }
}

void LineSet::insert(LineStore::Handle h, std::uint32_t hash) {
    // At most half full, so that probes stay short.
    if (2 * (m_size + 1) > m_slots.size())
        grow();
    const size_t mask = m_slots.size() - 1;
    size_t i = hash & mask;
    while (m_slots[i].line != LineStore::kNone)
        i = (i + 1) & mask;
    m_slots[i] = Slot{hash, h};
    ++m_size;
}

void LineSet::clear() {
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_size = 0;
}

bool line_matches(const QString& line, const QString& pattern, bool foldCase) {
    if (foldCase)
        return line.toLower().contains(pattern, Qt::CaseSensitive);
    return line.contains(pattern, Qt::CaseSensitive);
}

ViewListModel::ViewListModel(QObject* parent) : QAbstractListModel(parent) {}

bool ViewListModel::lineLess(QStringView a, QStringView b) {
    const int c = a.compare(b, Qt::CaseInsensitive);
    if (c != 0)
        return c < 0;
    return a.compare(b, Qt::CaseSensitive) < 0;
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
        return lineOfRow(r).toString();
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
    return line(row).toString();
}

QStringView ViewListModel::line(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? lineOfRow(*r) : QStringView();
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
    m_rows = {};
    m_pending = {};
    m_folded.clear();
    m_store.clear();
    m_keys = {};
    m_runStart = 0;
    m_added = 0;
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
    return r ? lineOfRow(*r).left(r->tagSize).toString() : QString();
}

QString ViewListModel::host(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? lineOfRow(*r).mid(r->tagSize + 1).toString() : QString();
}

std::uint32_t ViewListModel::arrival(int row) const {
    const ViewRow* r = rowAt(row);
    return r ? r->arrival : 0;
}

namespace {

constexpr qsizetype kHeadChars = 8;
// Lines of a batch sorted at once, while more come.
constexpr std::size_t kRun = 4096;

// lineLess for two ASCII lines whose heads are equal.
bool ascii_less(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    for (qsizetype i = std::min(kHeadChars, n); i < n; ++i) {
        const char16_t ca = lowered(pa[i]);
        const char16_t cb = lowered(pb[i]);
        if (ca != cb)
            return ca < cb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a.compare(b, Qt::CaseSensitive) < 0;
}

BatchKey batch_key(QStringView line, std::uint32_t row) {
    BatchKey k;
    k.row = row;
    k.ascii = is_ascii(line);
    if (k.ascii) {
        std::uint64_t head = 0;
        for (qsizetype i = 0; i < kHeadChars; ++i)
            head = head << 8 | (i < line.size() ? lowered(line.utf16()[i]) : 0u);
        k.headHigh = std::uint32_t(head >> 32);
        k.headLow = std::uint32_t(head);
    }
    return k;
}

} // namespace

static_assert(sizeof(ViewRow) == 12 && sizeof(BatchKey) == 12);

bool ViewListModel::addView(const QString& tag, const QString& host) {
    if (size_t(tag.size()) >= std::numeric_limits<std::uint32_t>::max())
        return false;
    const QString line = lineOf(tag, host);
    const std::uint32_t hash = m_folded.hashOf(line);
    if (m_folded.contains(line, hash))
        return false;
    const ViewRow row{m_store.add(line), std::uint32_t(tag.size()), m_added, false};
    if (row.line == LineStore::kNone)
        return false;
    ++m_added;
    m_folded.insert(row.line, hash);
    if (m_batch) {
        m_keys.push_back(batch_key(line, std::uint32_t(m_pending.size())));
        m_pending.append(row);
        if (m_keys.size() - m_runStart >= kRun)
            sortRun();
        return true;
    }
    const auto at = std::upper_bound(
        m_rows.cbegin(), m_rows.cend(), QStringView(line),
        [this](QStringView l, const ViewRow& r) { return lineLess(l, lineOfRow(r)); });
    const int place = int(at - m_rows.cbegin());
    beginInsertRows(QModelIndex(), place, place);
    m_rows.insert(place, row);
    endInsertRows();
    return true;
}

void ViewListModel::beginBatch() {
    m_batch = true;
}

bool ViewListModel::keyLess(const BatchKey& a, const BatchKey& b) const {
    const QStringView la = lineOfRow(m_pending.at(a.row));
    const QStringView lb = lineOfRow(m_pending.at(b.row));
    if (!a.ascii || !b.ascii)
        return lineLess(la, lb);
    if (a.head() != b.head())
        return a.head() < b.head();
    return ascii_less(la, lb);
}

void ViewListModel::sortRun() {
    // No two lines of a batch are equal, so no sort can order them otherwise.
    std::sort(m_keys.begin() + std::ptrdiff_t(m_runStart), m_keys.end(),
              [this](const BatchKey& a, const BatchKey& b) { return keyLess(a, b); });
    m_runStart = m_keys.size();
}

void ViewListModel::endBatch() {
    if (!m_batch)
        return;
    m_batch = false;
    if (m_pending.isEmpty())
        return;
    sortRun();
    // Every run but the last holds kRun lines: neighbours merged, then
    // neighbours of twice the length, to the whole.
    const std::size_t n = m_keys.size();
    for (std::size_t width = kRun; width < n; width *= 2) {
        for (std::size_t lo = 0; lo + width < n; lo += 2 * width)
            std::inplace_merge(
                m_keys.begin() + std::ptrdiff_t(lo), m_keys.begin() + std::ptrdiff_t(lo + width),
                m_keys.begin() + std::ptrdiff_t(std::min(n, lo + 2 * width)),
                [this](const BatchKey& a, const BatchKey& b) { return keyLess(a, b); });
    }
    // The rows follow their keys, moved in place along each cycle of the
    // order found: no second list of rows while the keys are held.
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (m_keys[i].row == i)
            continue;
        const ViewRow held = m_pending.at(qsizetype(i));
        for (size_t j = i;;) {
            const size_t from = m_keys[j].row;
            m_keys[j].row = std::uint32_t(j);
            if (from == i) {
                m_pending[qsizetype(j)] = held;
                break;
            }
            m_pending[qsizetype(j)] = m_pending.at(qsizetype(from));
            j = from;
        }
    }
    m_keys = {};
    m_runStart = 0;
    QList<ViewRow> sorted = std::exchange(m_pending, {});
    beginResetModel();
    if (m_rows.isEmpty()) {
        m_rows.swap(sorted);
    } else {
        const auto less = [this](const ViewRow& a, const ViewRow& b) {
            return lineLess(lineOfRow(a), lineOfRow(b));
        };
        QList<ViewRow> merged;
        merged.reserve(m_rows.size() + sorted.size());
        std::merge(m_rows.cbegin(), m_rows.cend(), sorted.cbegin(), sorted.cend(),
                   std::back_inserter(merged), less);
        m_rows.swap(merged);
    }
    endResetModel();
}

int ViewListModel::setCheckedWhere(bool checked, const std::function<bool(const QString&)>& pred) {
    int first = -1;
    int last = -1;
    int changed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        ViewRow& r = m_rows[i];
        if (pred && !pred(lineOfRow(r).toString()))
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
    // Marks first, so that the current row's new place is known before
    // anything moves.
    int newCurrent = -1;
    const int oldCurrent = currentRow ? *currentRow : -1;
    QList<ViewRow> kept;
    int removed = 0;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (pred(lineOfRow(m_rows.at(i)).toString())) {
            ++removed;
            continue;
        }
        if (i == oldCurrent)
            newCurrent = int(kept.size());
        kept.append(m_rows.at(i));
    }
    if (currentRow)
        *currentRow = newCurrent;
    if (removed == 0)
        return 0;
    beginResetModel();
    rebuild(std::move(kept));
    endResetModel();
    return removed;
}

void ViewListModel::rebuild(QList<ViewRow>&& rows) {
    LineStore store;
    for (ViewRow& r : rows)
        r.line = store.add(lineOfRow(r));
    m_store = std::move(store);
    m_folded.clear();
    for (const ViewRow& r : std::as_const(rows))
        m_folded.insert(r.line, m_folded.hashOf(m_store.at(r.line)));
    m_rows = std::move(rows);
}

} // namespace tsy::model
