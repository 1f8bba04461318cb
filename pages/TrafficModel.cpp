#include "pages/TrafficModel.h"

#include <QColor>
#include <algorithm>
#include <iterator>

namespace {

constexpr QRgb kErrorText = qRgb(210, 0, 0);       // the status line's red
constexpr QRgb kAcknowledgementText = qRgb(150, 150, 150);

}  // namespace

CTrafficModel::CTrafficModel(std::size_t maxRows, std::size_t maxPayloadBytes, QObject* parent)
    : QAbstractTableModel(parent), m_maxRows(std::max<std::size_t>(maxRows, 1)), m_maxPayloadBytes(maxPayloadBytes) {}

bool CTrafficModel::Passes(const TrafficRow& row, Filter filter) {
  switch (filter) {
    case Filter::kAll: return true;
    case Filter::kData: return row.kind == TrafficKind::kData;
    case Filter::kAcknowledgements: return row.kind == TrafficKind::kAck || row.kind == TrafficKind::kNak;
    case Filter::kBootRecords: return row.kind == TrafficKind::kBootRecord;
    case Filter::kErrors: return row.kind == TrafficKind::kError || row.checksum == ChecksumState::kBad;
  }
  return true;
}

void CTrafficModel::DropOldest(std::size_t count) {
  count = std::min(count, m_rows.size());
  if (count == 0) return;
  const std::uint64_t end = m_firstSerial + count;
  const auto shownGone = static_cast<int>(
      std::distance(m_shown.begin(), std::lower_bound(m_shown.begin(), m_shown.end(), end)));
  if (shownGone > 0) beginRemoveRows({}, 0, shownGone - 1);
  m_shown.erase(m_shown.begin(), m_shown.begin() + shownGone);
  for (std::size_t i = 0; i < count; ++i) m_payloadBytes -= m_rows[i].payload.size();
  m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
  m_firstSerial = end;
  m_droppedRows += count;
  if (shownGone > 0) endRemoveRows();
}

void CTrafficModel::Append(std::vector<TrafficRow>&& rows) {
  if (rows.empty()) return;
  // A batch larger than the list keeps only its newest rows.
  std::size_t skip = rows.size() > m_maxRows ? rows.size() - m_maxRows : 0;
  std::size_t batchBytes = 0;
  for (std::size_t i = skip; i < rows.size(); ++i) batchBytes += rows[i].payload.size();
  while (skip < rows.size() && batchBytes > m_maxPayloadBytes) batchBytes -= rows[skip++].payload.size();
  m_droppedRows += skip;
  const std::size_t incoming = rows.size() - skip;

  // Make room first, so the view hears of the removal before the insertion.
  std::size_t drop = m_rows.size() + incoming > m_maxRows ? m_rows.size() + incoming - m_maxRows : 0;
  std::size_t bytes = m_payloadBytes;
  for (std::size_t i = 0; i < drop; ++i) bytes -= m_rows[i].payload.size();
  while (drop < m_rows.size() && bytes + batchBytes > m_maxPayloadBytes) bytes -= m_rows[drop++].payload.size();
  DropOldest(drop);

  std::uint64_t serial = m_firstSerial + m_rows.size();
  int passing = 0;
  for (std::size_t i = skip; i < rows.size(); ++i) passing += Passes(rows[i], m_filter) ? 1 : 0;
  const int firstNew = static_cast<int>(m_shown.size());
  if (passing > 0) beginInsertRows({}, firstNew, firstNew + passing - 1);
  for (std::size_t i = skip; i < rows.size(); ++i, ++serial) {
    if (Passes(rows[i], m_filter)) m_shown.push_back(serial);
    m_payloadBytes += rows[i].payload.size();
    m_rows.push_back(std::move(rows[i]));
  }
  if (passing > 0) endInsertRows();
  rows.clear();
}

void CTrafficModel::Clear() {
  beginResetModel();
  m_firstSerial += m_rows.size();
  m_rows.clear();
  m_shown.clear();
  m_payloadBytes = 0;
  endResetModel();
}

void CTrafficModel::SetFilter(Filter filter) {
  if (filter == m_filter) return;
  beginResetModel();
  m_filter = filter;
  m_shown.clear();
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (Passes(m_rows[i], m_filter)) m_shown.push_back(m_firstSerial + i);
  endResetModel();
}

const TrafficRow& CTrafficModel::ShownRow(int row) const {
  return m_rows[static_cast<std::size_t>(m_shown[static_cast<std::size_t>(row)] - m_firstSerial)];
}

bool CTrafficModel::WriteCsv(std::ostream& out) const {
  out << CsvHeader();
  for (std::uint64_t serial : m_shown) out << CsvLine(m_rows[static_cast<std::size_t>(serial - m_firstSerial)]);
  out.flush();
  return static_cast<bool>(out);
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant CTrafficModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
  const TrafficRow& r = ShownRow(index.row());
  if (role == Qt::ForegroundRole) {
    if (r.kind == TrafficKind::kError || r.kind == TrafficKind::kNak || r.checksum == ChecksumState::kBad)
      return QColor(kErrorText);
    if (r.kind == TrafficKind::kAck) return QColor(kAcknowledgementText);
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case kTime: return QString::fromStdString(FormatTrafficTime(r.time, role == Qt::ToolTipRole));
    case kDirection: return QString::fromUtf8(r.out ? "out" : "in");
    case kKind: return QString::fromUtf8(TrafficKindText(r.kind));
    case kSequence: return r.sequence ? QVariant(QString::number(*r.sequence)) : QVariant(QString());
    case kCommand: {
      const std::string pair = PairText(r);
      return QString::fromStdString(pair.empty() || r.name.empty() ? pair + r.name : pair + " " + r.name);
    }
    case kLength: return r.payloadLength ? QVariant(QString::number(*r.payloadLength)) : QVariant(QString());
    case kPayload: {
      // Painting formats only what fits; a tooltip shows a little more.
      const std::size_t limit = role == Qt::ToolTipRole ? 4 * kShownPayloadBytes : kShownPayloadBytes;
      const std::size_t n = std::min(r.payload.size(), limit);
      QString hex = QString::fromStdString(HexBytes(std::span(r.payload.data(), n)));
      if (n < r.payload.size()) hex += QStringLiteral(" \u2026");
      return hex;
    }
    case kChecksum: return QString::fromStdString(ChecksumText(r.checksum));
    case kMeaning: return QString::fromStdString(r.meaning);
    default: return {};
  }
}

QVariant CTrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kCaptions[kColumnCount] = {"Time",   "Dir",     "Kind",     "Seq",    "Command",
                                                      "Length", "Payload", "Checksum", "Meaning"};
  return section >= 0 && section < kColumnCount ? QString::fromUtf8(kCaptions[section]) : QVariant();
}
