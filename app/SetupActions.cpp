#include "app/SetupActions.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "CorvelVersion.h"
#include "pages/BoardGlobals.h"
#include "pages/RoundPage.h"
#include "chip/ChipAccess.h"
#include "chip/RegisterJournal.h"
#include "link/LinkHost.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"
#include "resources/dialogs/MainWindowDialog.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "setup/PythonScript.h"
#include "setup/ScriptRecorder.h"
#include "setup/Setup.h"
#include "setup/SetupLoader.h"
#include "setup/SetupWrites.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/ControlFactory.h"
#include "ui/StatusSink.h"

using namespace dialogs;

namespace {

constexpr const char* kSaveTitle = "Save setup";
constexpr const char* kLoadTitle = "Load setup";
constexpr const char* kRecordTitle = "Record";

void Warn(const std::string& text, const char* caption) {
  platform::MessageBox(text, caption, platform::MessageIcon::Warning);
}

std::string BoardText(std::uint8_t id) {
  const char* name = setup::BoardName(id);
  return std::string(name ? name : "unknown board") + " (board " + std::to_string(id) + ")";
}

std::optional<int> TypedCurrent(const CRound* page) {
  if (!page || !page->CurrentEdit()) return std::nullopt;
  bool ok = false;
  const int v = page->CurrentEdit()->text().trimmed().toInt(&ok, 10);
  return ok ? std::optional(v) : std::nullopt;
}

}  // namespace

CSetupActions::CSetupActions(QWidget* window, StatusSink* status, CRound* page)
    : QObject(window),
      m_window(window),
      m_status(status),
      m_page(page),
      m_save(platform::Control<CMyRectButton>(window, IDC_SETUP_SAVE)),
      m_load(platform::Control<CMyRectButton>(window, IDC_SETUP_LOAD)),
      m_record(platform::Control<CMyRectButton>(window, IDC_RECORD)),
      m_indicator(platform::Control<CMyStaticFont>(window, IDC_RECORD_INDICATOR)),
      m_loadWatch(new QTimer(this)),
      m_loader(std::make_unique<setup::SetupLoader>()) {
  // Narrower than the page buttons' font: the captions are longer.
  for (CMyRectButton* b : {m_save, m_load, m_record}) b->SetButtonFont(17, 5, 500, "Arial");
  m_save->setText(QString::fromUtf8(kSaveCaption));
  m_load->setText(QString::fromUtf8(kLoadCaption));
  m_record->setText(QString::fromUtf8(kRecordCaption));
  m_save->setToolTip(QStringLiteral("Save the chip's setup (board, address, modes, current, brightness, effect "
                                    "times, GPIO) to a file"));
  m_load->setToolTip(QStringLiteral("Write a saved setup to the chip, in the order the pages write it"));
  m_record->setToolTip(QStringLiteral("Write every chip action into a corvelctl script "
                                      "(replay: corvelctl batch --file SCRIPT)"));
  m_indicator->SetCtrlFont(18, 7, 700, "Arial");
  m_indicator->SetCtrlTextColor(Qt::white);
  m_indicator->SetCtrlBkColor(QColor(120, 0, 0));
  m_indicator->setAlignment(Qt::AlignCenter);
  m_indicator->hide();
  connect(m_save, &QAbstractButton::clicked, this, [this] { SaveSetup(); });
  connect(m_load, &QAbstractButton::clicked, this, [this] { LoadSetup(); });
  connect(m_record, &QAbstractButton::clicked, this, [this] { ToggleRecording(); });
  connect(m_loadWatch, &QTimer::timeout, this, &CSetupActions::CheckLoad);
}

CSetupActions::~CSetupActions() {
  if (Recording()) StopRecording();
}

void CSetupActions::Status(const QString& text, bool ok) {
  if (m_status) m_status->ShowStatus(text, ok);
}

std::string CSetupActions::Folder() const {
  return (m_folder.isEmpty() ? QDir::homePath() : m_folder).toStdString();
}

void CSetupActions::Remember(const std::string& path) {
  m_folder = QFileInfo(QString::fromStdString(path)).absolutePath();
}

// ---- save -----------------------------------------------------------------

bool CSetupActions::SaveSetup() {
  const char* board = setup::BoardName(g_selectedBoardId);
  if (!board) {
    Warn("Choose the chip board first: a setup belongs to one board.", kSaveTitle);
    return false;
  }
  // What the chip holds as far as the program knows: the same model every
  // page shows.
  setup::ChipModelView view;
  view.known = [](std::uint8_t reg) { return chip::Journal().Known(reg); };
  view.typedCurrent = TypedCurrent(m_page);
  const int count = std::clamp(g_ledCount, 0, static_cast<int>(g_ledBrightness.size()));
  view.brightnessFallback.assign(g_ledBrightness.begin(), g_ledBrightness.begin() + count);
  const setup::Setup s = setup::SetupFromChipModel(g_selectedBoardId, g_i2cAddress.load(), g_i2cSpeed.load(), view);

  QString name = QStringLiteral("setup-%1.json").arg(QString::fromLatin1(board).toLower());
  const auto path = platform::SaveFileDialog(kFilter, kSaveTitle, QDir(QString::fromStdString(Folder())).filePath(name).toStdString());
  if (!path) return false;
  std::string error;
  if (!setup::SaveSetupFile(*path, s, error)) {
    Warn("The setup was not saved: " + error + ".", kSaveTitle);
    return false;
  }
  Remember(*path);
  Status(QStringLiteral("  ✔  Setup saved to %1").arg(QString::fromStdString(*path)), true);
  return true;
}

// ---- load -----------------------------------------------------------------

bool CSetupActions::Loading() const { return m_loading != nullptr; }

bool CSetupActions::LoadSetup() {
  const auto path = platform::OpenFileDialog(kFilter, kLoadTitle, Folder());
  if (!path) return false;
  Remember(*path);
  return LoadSetupFrom(*path);
}

bool CSetupActions::LoadSetupFrom(const std::string& path) {
  if (Loading()) {
    Warn("A setup is being loaded: wait until it is written.", kLoadTitle);
    return false;
  }
  std::string error;
  auto s = setup::LoadSetupFile(path, error);
  if (!s) {
    Warn("The setup was not loaded: " + error + ". Nothing was written.", kLoadTitle);
    return false;
  }
  // Refused before anything goes out: a file for another board would set
  // registers that mean something else there.
  if (g_bBoardMatched != 1) {
    Warn("No lamp board is identified: the setup was not loaded. Nothing was written.", kLoadTitle);
    return false;
  }
  if (s->boardId != g_selectedBoardId) {
    Warn(QFileInfo(QString::fromStdString(path)).fileName().toStdString() + " is for the " + BoardText(s->boardId) +
             "; the board attached is the " + BoardText(g_selectedBoardId) + ". Nothing was written.",
         kLoadTitle);
    return false;
  }
  if (!m_page) return false;

  // The bus first: the address command goes out ahead of the writes.
  if (auto* address = m_page->AddressCombo()) {
    const auto it = std::find(kI2cAddresses.begin(), kI2cAddresses.end(), s->i2cAddress);
    const int index = static_cast<int>(it - kI2cAddresses.begin());
    if (it != kI2cAddresses.end() && (address->currentIndex() != index || g_i2cAddress.load() != s->i2cAddress)) {
      if (address->currentIndex() == index) m_page->SendI2cAddress();
      else address->setCurrentIndex(index);
    }
  }
  if (auto* speed = m_page->SpeedCombo()) speed->setCurrentIndex(s->i2cSpeed == kI2cSpeed1M ? 1 : 0);
  // The brightness goes with the writes, not with the page's timer.
  if (!s->brightness.empty()) g_bBrightnessPending = 0;

  m_loading = std::make_unique<setup::Setup>(*s);
  m_loadPath = path;
  if (!m_loader->Start(setup::SetupWrites(*s))) {
    CheckLoad();
    return false;
  }
  if (m_loader->Finished()) {
    FinishLoad();
    return true;
  }
  m_loadWatch->start(50);
  return true;
}

void CSetupActions::RelayRegisterReply(const platform::Message& m) {
  if (!Loading() || m.id != platform::kMsgRegisterWritten || !m.Bytes()) return;
  switch (m_loader->OnWriteAcknowledged(*m.Bytes())) {
    case setup::SetupLoader::Outcome::kFinished: FinishLoad(); return;
    case setup::SetupLoader::Outcome::kStopped: CheckLoad(); return;
    default: return;
  }
}

// A step the board did not confirm (refused, timed out, link lost, reset):
// the rest is not sent, and the person learns which one it was.
void CSetupActions::CheckLoad() {
  if (!Loading()) {
    m_loadWatch->stop();
    return;
  }
  const auto stopped = m_loader->StoppedAt();
  if (!stopped) return;
  m_loadWatch->stop();
  const std::string step = m_loader->DescribeStep(*stopped);
  const std::string done = *stopped == 0 ? "Nothing was written."
                           : *stopped == 1 ? "Step 1 was written; the rest was not sent."
                                           : "Steps 1 to " + std::to_string(*stopped) + " were written; the rest was not sent.";
  m_loader->Cancel();
  m_loading.reset();
  Warn("Loading the setup stopped at " + step + ": the board did not confirm it. " + done, kLoadTitle);
}

void CSetupActions::FinishLoad() {
  m_loadWatch->stop();
  const setup::Setup s = *m_loading;
  m_loading.reset();
  ShowPagesFor(s);
  const QString done = QStringLiteral("  ✔  Setup loaded from %1: %2 register writes")
                           .arg(QFileInfo(QString::fromStdString(m_loadPath)).fileName())
                           .arg(m_loader->Count());
  m_loader->Cancel();
  Status(done, true);
  // What the file holds and the chip did not get is said, not left to be
  // found missing from the next save.
  if (const std::string skipped = setup::NotWrittenText(s); !skipped.empty())
    platform::MessageBox(QFileInfo(QString::fromStdString(m_loadPath)).fileName().toStdString() + ": " + skipped,
                         kLoadTitle, platform::MessageIcon::Information);
  // The pages' own writes just made (the mode boxes) are acknowledged in a
  // moment, each with a status of its own: the outcome is said again after them.
  QTimer::singleShot(400, this, [this, done] { Status(done, true); });
}

void CSetupActions::ShowPagesFor(const setup::Setup& s) {
  if (m_page) m_page->ShowSetup(s);
}

// ---- record ---------------------------------------------------------------

void CSetupActions::ToggleRecording() {
  if (Recording()) {
    StopRecording();
    return;
  }
  const QString name = QStringLiteral("corvel-record-%1.txt")
                           .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
  const auto path = platform::SaveFileDialog(kScriptFilter, "Record to script",
                                             QDir(QString::fromStdString(Folder())).filePath(name).toStdString());
  if (!path) return;
  Remember(*path);
  StartRecording(*path);
}

bool CSetupActions::StartRecording(const std::string& path) {
  if (Recording()) return false;
  errno = 0;
  m_script.open(path, std::ios::binary | std::ios::trunc);
  if (!m_script) {
    Warn("Cannot record to " + path + (errno ? std::string(": ") + std::strerror(errno) : std::string()) + ".",
         kRecordTitle);
    m_script = std::ofstream();
    return false;
  }
  m_scriptPath = path;
  m_scriptLines = 0;
  m_python = QFileInfo(QString::fromStdString(path)).suffix().compare(QStringLiteral("py"), Qt::CaseInsensitive) == 0;
  const std::string recorded = std::string(m_python ? "Python" : "corvelctl") + " script recorded by CorvelGUI " +
                               kCorvelVersion + " on " +
                               QDateTime::currentDateTime().toString(Qt::ISODate).toStdString();
  if (m_python)
    for (const auto& line : setup::PythonScriptHead(recorded)) m_script << line << '\n';
  m_recorder = std::make_unique<setup::ScriptRecorder>([this](const std::string& line) {
    WriteLine(m_python ? setup::PythonScriptLine(line) : line);
  });
  const std::string file = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
  if (!m_python) m_recorder->Comment(recorded);
  m_recorder->Comment("chip board " + BoardText(g_selectedBoardId) + "; replay: " +
                      (m_python ? "python3 " + file + " --sim " + std::to_string(g_selectedBoardId) + " (or --serial SN)"
                                : "corvelctl batch --file " + file));
  // The script starts with the chip's address: it does not depend on what
  // the replaying corvelctl is told.
  m_recorder->Address(g_i2cAddress.load());
  chip::SetRegisterObserver([this](bool write, std::uint8_t reg, std::span<const std::uint8_t> data, std::uint8_t count) {
    if (!m_recorder) return;
    if (!write) {
      m_recorder->Read(reg, count);
      return;
    }
    setup::RecordContext c;
    c.boardId = g_selectedBoardId;
    c.ledCount = g_ledCount;
    c.blinkActive = g_bBlinkActive != 0;
    c.fadeActive = g_bFadeActive != 0;
    c.typedCurrent = TypedCurrent(m_page);
    c.known = [](std::uint8_t r) { return chip::Journal().Known(r); };
    m_recorder->Write(reg, data, c);
  });
  if (m_page) {
    // The address and the bus speed are chosen on the board page; the address
    // goes to the board as a command of its own.
    connect(m_page->AddressCombo(), &QComboBox::currentIndexChanged, this, [this] {
      if (m_recorder) m_recorder->Address(g_i2cAddress.load());
    });
    connect(m_page->SpeedCombo(), &QComboBox::currentIndexChanged, this, [this] {
      if (m_recorder)
        m_recorder->Comment(std::string("the window's bus speed is now ") +
                            (g_i2cSpeed.load() == kI2cSpeed1M ? "1M" : "400K") + " (no chip register holds it)");
    });
  }
  ShowRecording();
  return true;
}

void CSetupActions::StopRecording() {
  if (!m_recorder) return;
  m_recorder->Finish();
  chip::SetRegisterObserver({});
  if (m_page) {
    disconnect(m_page->AddressCombo(), nullptr, this, nullptr);
    disconnect(m_page->SpeedCombo(), nullptr, this, nullptr);
  }
  m_recorder.reset();
  m_script.close();
  const bool ok = static_cast<bool>(m_script);
  m_script = std::ofstream();
  ShowRecording();
  if (!ok) {
    Warn("Writing the script " + m_scriptPath + " failed: it is incomplete.", kRecordTitle);
    return;
  }
  Status(QStringLiteral("  ✔  Recorded to %1").arg(QString::fromStdString(m_scriptPath)), true);
}

void CSetupActions::WriteLine(const std::string& line) {
  if (!m_script) return;
  m_script << line << '\n' << std::flush;  // a script is most wanted when something went wrong
  ++m_scriptLines;
}

void CSetupActions::ShowRecording() {
  const bool on = Recording();
  m_record->setText(QString::fromUtf8(on ? kStopCaption : kRecordCaption));
  m_record->SetChecked(on);
  m_record->update();
  m_indicator->setText(on ? QStringLiteral("\u25CF  REC  %1").arg(QFileInfo(QString::fromStdString(m_scriptPath)).fileName())
                          : QString());
  m_indicator->setToolTip(on ? QString::fromStdString(m_scriptPath) : QString());
  m_indicator->setVisible(on);
}
