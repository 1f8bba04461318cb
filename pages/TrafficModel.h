// The rows of the traffic page: everything decoded so far, the oldest
// dropped once there are more than the list keeps, and the subset the page's
// filter lets through. Rows arrive in batches, so a view repaints once per
// batch however much traffic it carries.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <deque>
#include <ostream>
#include <vector>

#include "link/TrafficRecord.h"

class CTrafficModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kDirection, kKind, kSequence, kCommand, kLength, kPayload, kChecksum, kMeaning, kColumnCount };
  enum class Filter { kAll, kData, kAcknowledgements, kBootRecords, kErrors };

  static constexpr std::size_t kDefaultMaxRows = 20000;
  // Payload bytes kept over all rows: a few large frames must not hold
  // hundreds of megabytes.
  static constexpr std::size_t kDefaultMaxPayloadBytes = 16u << 20;
  // Bytes of a payload the list shows; the CSV has all of them.
  static constexpr std::size_t kShownPayloadBytes = 48;

  explicit CTrafficModel(std::size_t maxRows = kDefaultMaxRows, std::size_t maxPayloadBytes = kDefaultMaxPayloadBytes,
                         QObject* parent = nullptr);

  // Adds a batch, newest last, and drops the oldest rows beyond the bounds.
  void Append(std::vector<TrafficRow>&& rows);
  void Clear();
  void SetFilter(Filter filter);
  Filter CurrentFilter() const { return m_filter; }
  static bool Passes(const TrafficRow& row, Filter filter);

  std::size_t StoredRows() const { return m_rows.size(); }
  std::uint64_t DroppedRows() const { return m_droppedRows; }  // to keep within the bounds
  std::size_t MaxRows() const { return m_maxRows; }
  // A row as the list shows it (filter applied), oldest first.
  const TrafficRow& ShownRow(int row) const;

  // The rows the list shows, as CSV with its header. False when the stream
  // failed.
  bool WriteCsv(std::ostream& out) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  // Drops the `count` oldest rows, telling the view about those it shows.
  void DropOldest(std::size_t count);

  std::size_t m_maxRows;
  std::size_t m_maxPayloadBytes;
  std::deque<TrafficRow> m_rows;
  std::uint64_t m_firstSerial = 0;    // serial number of m_rows.front()
  std::deque<std::uint64_t> m_shown;  // serials of the rows the filter lets through
  std::size_t m_payloadBytes = 0;
  std::uint64_t m_droppedRows = 0;
  Filter m_filter = Filter::kAll;
};
