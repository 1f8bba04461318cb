#include "pages/TrafficPage.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "firmware/BootRecordText.h"
#include "link/TrafficCapture.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "resources/dialogs/TrafficPageDialog.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/PagePainting.h"
#include "ui/PageTable.h"
#include "ui/Scaling.h"

using namespace dialogs;

namespace {

struct FilterChoice {
  const char* text;
  CTrafficModel::Filter filter;
};
constexpr FilterChoice kFilters[] = {
    {"All kinds", CTrafficModel::Filter::kAll},
    {"Data frames", CTrafficModel::Filter::kData},
    {"ACK and NAK", CTrafficModel::Filter::kAcknowledgements},
    {"Bootloader records", CTrafficModel::Filter::kBootRecords},
    {"Errors", CTrafficModel::Filter::kErrors},
};

// Reference widths (pixels at 1920 x 1040) of every column but the last,
// which takes the rest.
constexpr int kColumnWidths[CTrafficModel::kColumnCount - 1] = {110, 44, 62, 56, 230, 70, 400, 96};

}  // namespace

CTrafficPage::CTrafficPage(TrafficCapture* capture, QWidget* parent, std::size_t maxRows)
    : CPage(parent), m_capture(capture), m_decoder(MakeTrafficDecoder()), m_model(maxRows) {
  BuildStandardDialog(this, kTrafficPageDialog);
  m_filter = platform::Control<CMyComboBox>(this, IDC_TRAFFIC_FILTER);
  m_pause = platform::Control<CMyRectButton>(this, IDC_TRAFFIC_PAUSE);
  m_clear = platform::Control<CMyRectButton>(this, IDC_TRAFFIC_CLEAR);
  m_save = platform::Control<CMyRectButton>(this, IDC_TRAFFIC_SAVE);
  m_counts = platform::Control<CMyStaticFont>(this, IDC_TRAFFIC_COUNTS);

  QWidget* host = platform::FindControl(this, IDC_TRAFFIC_LIST);
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(0, 0, 0, 0);
  m_list = new QTableView(host);
  layout->addWidget(m_list);
  m_list->setModel(&m_model);

  // The list follows the newest rows until the user scrolls up to read, and
  // again once they scroll back to the bottom. The range also changes when a
  // hidden list is first laid out, so it arrives at the bottom too.
  QScrollBar* bar = m_list->verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { m_follow = value >= bar->maximum(); });
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
    if (m_follow) bar->setValue(maximum);
  });
  // Ctrl+C copies the selected rows in the CSV form, ready for a spreadsheet
  // or a bug report.
  auto* copy = new QShortcut(QKeySequence::Copy, m_list, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(copy, &QShortcut::activated, this, &CTrafficPage::CopySelectedRows);
  connect(m_pause, &QAbstractButton::clicked, this, [this] { SetPaused(!m_paused); });
  connect(m_clear, &QAbstractButton::clicked, this, &CTrafficPage::ClearList);
  connect(m_save, &QAbstractButton::clicked, this, [this] { SaveAsCsv(); });
}

// A column is never narrower than its heading, and the Kind column holds its
// widest kind whole ("ERROR", not "ERR…"), whatever the font and scale.
int CTrafficPage::WidestTextWidth(int column) const {
  // The cells' and headings' text insets on both sides, and a little air.
  const int margins = 2 * kPageTableTextInset + 4;
  const QString heading = m_model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  int widest = m_list->horizontalHeader()->fontMetrics().horizontalAdvance(heading) + margins;
  if (column == CTrafficModel::kKind) {
    const QFontMetrics cell(m_list->font());
    for (TrafficKind kind : {TrafficKind::kData, TrafficKind::kAck, TrafficKind::kNak, TrafficKind::kBootRecord,
                             TrafficKind::kError})
      widest = std::max(widest, cell.horizontalAdvance(QString::fromUtf8(TrafficKindText(kind))) + margins);
  }
  return widest;
}

void CTrafficPage::InitDialog() {
  platform::Control<CMyStaticFont>(this, IDC_TRAFFIC_TITLE)->SetCtrlFont(26, 10, 700, "Arial");
  for (int id : {IDC_TRAFFIC_NOTE, IDC_TRAFFIC_FILTER_LABEL, IDC_TRAFFIC_COUNTS})
    platform::Control<CMyStaticFont>(this, id)->SetCtrlFont(18, 7, 400, "Arial");
  m_filter->SetCtrlFont(18, 7, 400, "Arial");
  for (const auto& f : kFilters) m_filter->addItem(QString::fromUtf8(f.text));
  connect(m_filter, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kFilters))) return;
    m_model.SetFilter(kFilters[index].filter);
    UpdateCounts();
  });
  for (CMyRectButton* b : {m_pause, m_clear, m_save}) b->SetButtonFont(18, 7, 500, "Arial");
  m_pause->setToolTip(QStringLiteral("Hold the list still; rows are still collected and appear on Resume"));
  m_save->setToolTip(QStringLiteral("Write the rows shown to a CSV file"));

  SetUpPageTable(m_list);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (int c = 0; c < CTrafficModel::kColumnCount - 1; ++c)
    m_list->setColumnWidth(c, std::max(static_cast<int>(kColumnWidths[c] * g_scaleX), WidestTextWidth(c)));

  RelayoutPage();
  UpdateCounts();
  SetTimer(kDrainTimer, kDrainPeriodMs);
}

void CTrafficPage::RelayoutPage() { ScaleDialogLayout(this, g_ratioX, g_ratioY, false); }

void CTrafficPage::OnTimer(std::uint32_t id) {
  if (id == kDrainTimer) Drain();
}

void CTrafficPage::Drain() {
  if (!m_capture) return;
  const std::uint64_t lost = m_capture->TakeAll(m_reports);
  m_batch.clear();
  for (const TrafficReport& report : m_reports) m_decoder.Feed(report, m_batch);
  if (lost > 0) {
    // The queue was full after the last of these: whatever frame was in
    // progress lost its pieces.
    m_decoder.Reset();
    m_lostReports += lost;
    TrafficRow gap;
    gap.time = TrafficClock::now();
    gap.kind = TrafficKind::kError;
    gap.meaning = std::to_string(lost) + " reports not recorded: the list fell behind";
    m_batch.push_back(std::move(gap));
  }
  if (m_batch.empty()) {
    UpdateCounts();
    return;
  }
  if (m_paused) {
    for (TrafficRow& row : m_batch) m_held.push_back(std::move(row));
    while (m_held.size() > m_model.MaxRows()) m_held.pop_front();
    m_batch.clear();
    UpdateCounts();
    return;
  }
  m_model.Append(std::move(m_batch));
  UpdateCounts();
}

void CTrafficPage::SetPaused(bool paused) {
  if (paused == m_paused) return;
  m_paused = paused;
  m_pause->setText(QString::fromUtf8(paused ? "Resume" : "Pause"));
  m_pause->SetChecked(paused);
  if (!paused && !m_held.empty()) {
    std::vector<TrafficRow> rows(std::make_move_iterator(m_held.begin()), std::make_move_iterator(m_held.end()));
    m_held.clear();
    m_model.Append(std::move(rows));
  }
  UpdateCounts();
}

QString CTrafficPage::CopySelectedRows() {
  std::vector<int> rows;
  for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  std::string text;
  for (int row : rows) text += CsvLine(m_model.ShownRow(row));
  const QString copied = QString::fromStdString(text);
  if (!copied.isEmpty()) QGuiApplication::clipboard()->setText(copied);
  return copied;
}

void CTrafficPage::ClearList() {
  m_model.Clear();
  m_held.clear();
  m_lastSave.clear();
  UpdateCounts();
}

bool CTrafficPage::SaveCsvTo(const std::string& path, std::string& error) const {
  errno = 0;
  // Binary: the rows end in CRLF of their own.
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = errno ? std::strerror(errno) : "cannot open the file";
    return false;
  }
  if (!m_model.WriteCsv(out)) {
    error = errno ? std::strerror(errno) : "writing failed";
    return false;
  }
  out.close();
  if (!out) {
    error = errno ? std::strerror(errno) : "writing failed";
    return false;
  }
  return true;
}

bool CTrafficPage::SaveAsCsv() {
  // The folder saved to last in this run, at first the home folder: the
  // working directory of a program started from a menu means nothing to its user.
  const QString folder = m_saveFolder.isEmpty() ? QDir::homePath() : m_saveFolder;
  const std::string suggested =
      QDir(folder)
          .filePath(QStringLiteral("corvel-traffic-%1.csv")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))))
          .toStdString();
  const auto path = platform::SaveFileDialog("CSV file(*.csv)|*.csv|", "Save as CSV", suggested);
  if (!path) return false;
  std::string error;
  if (!SaveCsvTo(*path, error)) {
    platform::MessageBox("Cannot write " + *path + ": " + error + ".", "Save as CSV", platform::MessageIcon::Error);
    return false;
  }
  m_lastSave = QString::fromStdString(*path);
  m_saveFolder = QFileInfo(m_lastSave).absolutePath();
  UpdateCounts();
  return true;
}

void CTrafficPage::UpdateCounts() {
  QString text = QStringLiteral("%1 rows").arg(m_model.rowCount());
  if (m_model.CurrentFilter() != CTrafficModel::Filter::kAll)
    text += QStringLiteral(" of %1").arg(m_model.StoredRows());
  if (m_model.DroppedRows() > 0)
    text += QStringLiteral("  \u00b7  the list keeps the newest %1, %2 older rows dropped")
                .arg(m_model.MaxRows())
                .arg(m_model.DroppedRows());
  if (m_paused) text += QStringLiteral("  \u00b7  paused, %1 new rows waiting").arg(m_held.size());
  if (m_lostReports > 0) text += QStringLiteral("  \u00b7  %1 reports not recorded").arg(m_lostReports);
  if (!m_lastSave.isEmpty()) text += QStringLiteral("  \u00b7  saved to %1").arg(m_lastSave);
  if (m_counts->text() != text) m_counts->setText(text);
}

void CTrafficPage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPlainBackground(this, painter);
}
