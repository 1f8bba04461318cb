// The pages beside the LED board page: the register page and the traffic
// page, their buttons under "Round" in the window's left column, and which
// page is shown. The LED board page stays in the first page host and stays
// alive while another page is shown (its timers and selections carry on);
// the other two share the second host.
#pragma once

#include <QObject>

#include "platform/MessageTarget.h"

class CMyRectButton;
class QVCommunication;
class CRegisterPage;
class CTrafficPage;
class TrafficCapture;
class QWidget;
class StatusSink;

// What the transport's tap queues for the traffic page; null while the
// application has no link.
extern TrafficCapture* g_pTrafficCapture;
// Lets the transport's tap queue every report for the traffic page. The tap
// only copies the report: it runs on the reader thread and under the
// transport's write lock.
void InstallTrafficTap(QVCommunication* comm, TrafficCapture* capture);

// The pages, null while they do not exist.
extern CRegisterPage* g_pRegisterPage;
extern CTrafficPage* g_pTrafficPage;

class CToolPages : public QObject {
  Q_OBJECT
 public:
  enum class Page { kRound, kRegisters, kTraffic };

  // Makes both pages in `window`'s second page host and wires the page
  // buttons; the LED board page is the one shown. `status` is what the
  // pages tell the user through.
  CToolPages(QWidget* window, StatusSink* status);
  ~CToolPages() override;

  void Show(Page page);
  Page Current() const { return m_current; }
  CRegisterPage* RegisterPage() const { return g_pRegisterPage; }

  // The main window's register replies, relayed to the register page beside
  // the window's own relays: it notes the values and acts only on its own.
  void RelayRegisterReply(const platform::Message& message);
  // After the main window changed its layout ratios (maximise, restore).
  void Relayout();

 private:
  QWidget* m_window;
  QWidget* m_roundHost;
  QWidget* m_host;
  CMyRectButton* m_roundButton;
  CMyRectButton* m_registersButton;
  CMyRectButton* m_trafficButton;
  Page m_current = Page::kRound;
};
