// The traffic page: a live list of every frame and bootloader record that
// crossed the link since the start, decoded by the same decoder as
// corvelctl's --trace and --log. The transport's tap only queues reports
// (TrafficCapture); this page takes them every 100 ms, decodes them and adds
// them to the list in one batch, so neither the link nor the window waits on
// the other. The list keeps the newest rows; Pause holds the list still
// while rows keep being collected; "Save as CSV…" writes the rows shown.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "pages/TrafficModel.h"
#include "link/TrafficRecord.h"
#include "ui/Page.h"

class CMyComboBox;
class CMyRectButton;
class CMyStaticFont;
class QTableView;
class TrafficCapture;

class CTrafficPage : public CPage {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kDrainTimer = 1;
  static constexpr std::uint32_t kDrainPeriodMs = 100;

  // `capture` may be null: the page then shows nothing. It must outlive the
  // page.
  CTrafficPage(TrafficCapture* capture, QWidget* parent, std::size_t maxRows = CTrafficModel::kDefaultMaxRows);

  void InitDialog();
  void RelayoutPage();

  // Takes what the tap queued, decodes it and adds it to the list (or holds
  // it while paused).
  void Drain();
  void SetPaused(bool paused);
  bool Paused() const { return m_paused; }
  void ClearList();
  // The selected rows as CSV lines (without the header), also put on the
  // clipboard.
  QString CopySelectedRows();
  // Asks where, then writes the rows shown. False when nothing was written.
  bool SaveAsCsv();
  // Writes the rows shown to `path`; on failure says why in `error`.
  bool SaveCsvTo(const std::string& path, std::string& error) const;

  CTrafficModel& Model() { return m_model; }
  QTableView* List() const { return m_list; }
  CMyComboBox* FilterBox() const { return m_filter; }
  CMyRectButton* PauseButton() const { return m_pause; }
  CMyStaticFont* Counts() const { return m_counts; }

  void OnTimer(std::uint32_t id) override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int WidestTextWidth(int column) const;
  void UpdateCounts();

  TrafficCapture* m_capture;
  TrafficDecoder m_decoder;
  CTrafficModel m_model;
  std::vector<TrafficReport> m_reports;  // reused between drains
  std::vector<TrafficRow> m_batch;
  std::deque<TrafficRow> m_held;  // collected while paused, newest last
  std::uint64_t m_lostReports = 0;
  bool m_paused = false;
  bool m_follow = true;  // the list keeps its newest row in view
  QString m_lastSave;
  QString m_saveFolder;

  QTableView* m_list = nullptr;
  CMyComboBox* m_filter = nullptr;
  CMyRectButton* m_pause = nullptr;
  CMyRectButton* m_clear = nullptr;
  CMyRectButton* m_save = nullptr;
  CMyStaticFont* m_counts = nullptr;
};
