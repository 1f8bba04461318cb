// The chip registry: the table of supported chips and the one that is
// launched. Only one chip entry exists; its window is the main window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class CQV512XX;

struct ChipEntry {
  std::int32_t id;
  std::int32_t enabled;
  const char* name;
  const char* version;
  const char* registerLinePattern;  // kept with the entry; nothing evaluates it
  const char* driverPattern;        // likewise
  std::uint32_t reserved;
};

inline constexpr std::array<ChipEntry, 1> g_chipTable = {{
    {6, 1, "QV6032_QV6033_QV6031_QV6035 ", "V1.4.0",
     R"(^\s*reg\s*:\s*0x\s*([\d,a-f]+)\s*=\s*0x\s*([\d,a-f]+)\s*)", "(QV512XX)", 0},
}};

class QVChip {
 public:
  static constexpr int kNoWindow = 2;  // what Launch returns when it runs nothing
  static constexpr std::int32_t kMainWindowChip = 6;

  QVChip();
  ~QVChip();  // deletes the main window
  QVChip(const QVChip&) = delete;
  QVChip& operator=(const QVChip&) = delete;

  static std::int32_t GetDefaultChipId();
  // Records the entry and runs its window until it closes; returns the
  // window's result, or kNoWindow.
  int Launch(std::int32_t id);
  // The recording half of Launch, without running anything: creates the main
  // window if needed and returns it (null for a chip without one).
  CQV512XX* Prepare(std::int32_t id);

  QString GetChipName() const { return m_chipName; }
  QString GetChipVersion() const { return m_chipVersion; }
  std::int32_t ChipId() const { return m_chipId; }

 private:
  std::unique_ptr<CQV512XX> m_mainDialog;  // reached through g_pMainDialog
  std::int32_t m_chipId = 0;
  QString m_chipName;
  QString m_chipVersion;
};

extern QVChip* g_pChip;
