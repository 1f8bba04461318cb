// "Save setup…", "Load setup…" and "Record" in the window's left column:
// the chip setup kept as a file and put back on the chip, and every
// chip-level action written as a corvelctl command into a script while
// recording (with an indicator in the caption band).
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "platform/MessageTarget.h"

class CMyRectButton;
class CRound;
class StatusSink;
class CMyStaticFont;
class QTimer;
class QWidget;
namespace setup {
struct Setup;
class SetupLoader;
class ScriptRecorder;
}  // namespace setup

class CSetupActions : public QObject {
  Q_OBJECT
 public:
  // Texts a person sees.
  static constexpr const char* kSaveCaption = "Save setup…";
  static constexpr const char* kLoadCaption = "Load setup…";
  static constexpr const char* kRecordCaption = "Record";
  static constexpr const char* kStopCaption = "Stop rec.";
  static constexpr const char* kFilter = "Setup file(*.json)|*.json|";
  // A name ending in .py records a Python script on the corvel module.
  static constexpr const char* kScriptFilter = "corvelctl script(*.txt)|*.txt|Python script(*.py)|*.py|";

  // `page`: the LED board page whose controls show (and choose) the setup;
  // `status`: where outcomes are told. Either may be null.
  CSetupActions(QWidget* window, StatusSink* status, CRound* page);
  ~CSetupActions() override;

  // Asks for a file and saves what the chip holds (as far as the program
  // knows) into it. False when nothing was saved.
  bool SaveSetup();
  // Asks for a file and writes its setup to the chip; the pages show it.
  bool LoadSetup();
  // Writes a setup read from `path` to the chip (what LoadSetup does once a
  // file is chosen). False, with a message, when it is refused at once.
  bool LoadSetupFrom(const std::string& path);
  bool Loading() const;

  // Starts recording into a script the person names, or stops.
  void ToggleRecording();
  bool StartRecording(const std::string& path);
  void StopRecording();
  bool Recording() const { return m_recorder != nullptr; }
  const std::string& ScriptPath() const { return m_scriptPath; }

  // The main window's register replies: the loader goes on from each
  // acknowledgement.
  void RelayRegisterReply(const platform::Message& message);

  CMyRectButton* SaveButton() const { return m_save; }
  CMyRectButton* LoadButton() const { return m_load; }
  CMyRectButton* RecordButton() const { return m_record; }
  CMyStaticFont* RecordIndicator() const { return m_indicator; }

 private:
  void ShowPagesFor(const setup::Setup& s);
  void FinishLoad();
  void CheckLoad();
  void ShowRecording();
  void WriteLine(const std::string& line);
  void Status(const QString& text, bool ok);
  std::string Folder() const;
  void Remember(const std::string& path);

  QWidget* m_window;
  StatusSink* m_status;
  CRound* m_page;
  CMyRectButton* m_save;
  CMyRectButton* m_load;
  CMyRectButton* m_record;
  CMyStaticFont* m_indicator;
  QTimer* m_loadWatch;
  std::unique_ptr<setup::SetupLoader> m_loader;
  std::unique_ptr<setup::Setup> m_loading;  // the setup being written
  std::string m_loadPath;
  std::unique_ptr<setup::ScriptRecorder> m_recorder;
  std::ofstream m_script;
  std::string m_scriptPath;
  int m_scriptLines = 0;
  bool m_python = false;  // the script is Python: each command written as its call
  QString m_folder;  // where the last file was saved or loaded, this run
};
