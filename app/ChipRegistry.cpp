#include "app/ChipRegistry.h"

#include <cstring>

#include "app/MainWindow.h"
#include "link/LinkHost.h"

QVChip* g_pChip = nullptr;

QVChip::QVChip() { corvel::SetChipRegistryPresent(true); }

QVChip::~QVChip() {
  corvel::SetChipRegistryPresent(false);
  m_mainDialog.reset();
  g_pMainDialog = nullptr;
}

std::int32_t QVChip::GetDefaultChipId() {
  for (const ChipEntry& e : g_chipTable)
    if (e.enabled == 1) return e.id;
  return 0;
}

CQV512XX* QVChip::Prepare(std::int32_t id) {
  if (g_pChip == nullptr || id == 0) return nullptr;
  const char* name = nullptr;
  for (const ChipEntry& e : g_chipTable)
    if (e.enabled != 0 && e.id == id) {
      name = e.name;
      break;
    }
  const char* version = nullptr;
  if (name)
    for (const ChipEntry& e : g_chipTable)
      if (std::strcmp(e.name, name) == 0) {
        version = e.version;
        break;
      }
  m_chipId = id;
  m_chipName = QString::fromUtf8(name ? name : "");
  m_chipVersion = QString::fromUtf8(version ? version : "");
  if (id != kMainWindowChip) return nullptr;
  if (!m_mainDialog) {
    m_mainDialog = std::make_unique<CQV512XX>();
    g_pMainDialog = m_mainDialog.get();
    m_mainDialog->InitDialog();
  }
  return m_mainDialog.get();
}

int QVChip::Launch(std::int32_t id) {
  CQV512XX* window = Prepare(id);
  if (!window) return kNoWindow;
  return window->Run();
}
