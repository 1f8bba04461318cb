// Base of the windows that take part in the link's traffic: each has a
// message handle (the main window and the pages relay replies to each other
// through it) and timers by id.
#pragma once

#include <QWidget>
#include <memory>

#include "platform/qt/WindowTarget.h"

class CPage : public QWidget, public platform::MessageWindow {
  Q_OBJECT
 public:
  explicit CPage(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
  ~CPage() override;

  platform::Handle Handle() const { return m_target->handle(); }
  platform::WindowTarget& Timers() { return *m_target; }

  void OnMessage(const platform::Message&) override {}
  void OnTimer(std::uint32_t) override {}

 protected:
  void SetTimer(std::uint32_t id, std::uint32_t ms) { m_target->SetTimer(id, ms); }
  void KillTimer(std::uint32_t id) { m_target->KillTimer(id); }

 private:
  std::unique_ptr<platform::WindowTarget> m_target;
};
