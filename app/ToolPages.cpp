#include "app/ToolPages.h"

#include "app/SetupActions.h"
#include "pages/RegisterPage.h"
#include "pages/RoundPage.h"
#include "pages/TrafficPage.h"
#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "link/TrafficCapture.h"
#include "platform/Messages.h"
#include "resources/dialogs/MainWindowDialog.h"
#include "ui/CMyRectButton.h"
#include "ui/PagePainting.h"

using namespace dialogs;

TrafficCapture* g_pTrafficCapture = nullptr;
CRegisterPage* g_pRegisterPage = nullptr;
CTrafficPage* g_pTrafficPage = nullptr;

void InstallTrafficTap(QVCommunication* comm, TrafficCapture* capture) {
  if (!comm || !comm->Hid()) return;
  comm->Hid()->SetReportTap([capture](bool out, const std::uint8_t* report, std::size_t length) {
    capture->Push(out, CMUSBHid::TappedReportIsBootloader(), report, length);
  });
}

CToolPages::CToolPages(QWidget* window, StatusSink* status)
    : QObject(window),
      m_window(window),
      m_roundHost(platform::FindControl(window, IDC_PAGE_HOST)),
      m_host(platform::FindControl(window, IDC_PAGE_HOST2)),
      m_roundButton(platform::Control<CMyRectButton>(window, IDC_PAGE_ROUND)),
      m_registersButton(platform::Control<CMyRectButton>(window, IDC_PAGE_REGISTERS)),
      m_trafficButton(platform::Control<CMyRectButton>(window, IDC_PAGE_TRAFFIC)),
      m_setupActions(new CSetupActions(window, status, window->findChild<CRound*>())) {
  g_pRegisterPage = new CRegisterPage(m_host, status);
  g_pRegisterPage->InitDialog();
  g_pTrafficPage = new CTrafficPage(g_pTrafficCapture, m_host);
  g_pTrafficPage->InitDialog();
  // The pages go with their host, which the window may delete before this
  // object: their pointers must not outlive them.
  connect(g_pRegisterPage, &QObject::destroyed, [] { g_pRegisterPage = nullptr; });
  connect(g_pTrafficPage, &QObject::destroyed, [] { g_pTrafficPage = nullptr; });
  CentreInHost(g_pRegisterPage, m_host);
  CentreInHost(g_pTrafficPage, m_host);
  g_pRegisterPage->hide();
  g_pTrafficPage->hide();

  // A little narrower than "Round"'s caption font, so that "Registers" keeps
  // clear of the button's edges.
  for (CMyRectButton* b : {m_registersButton, m_trafficButton}) b->SetButtonFont(20, 7, 500, "Arial");
  m_registersButton->setToolTip(QStringLiteral("Every register of the chip: read, written and what it means"));
  m_trafficButton->setToolTip(QStringLiteral("Every frame and bootloader record in and out"));
  connect(m_roundButton, &QAbstractButton::clicked, this, [this] { Show(Page::kRound); });
  connect(m_registersButton, &QAbstractButton::clicked, this, [this] { Show(Page::kRegisters); });
  connect(m_trafficButton, &QAbstractButton::clicked, this, [this] { Show(Page::kTraffic); });
  Show(Page::kRound);
}

CToolPages::~CToolPages() = default;

void CToolPages::Show(Page page) {
  m_current = page;
  m_roundButton->SetChecked(page == Page::kRound);
  m_registersButton->SetChecked(page == Page::kRegisters);
  m_trafficButton->SetChecked(page == Page::kTraffic);
  if (page == Page::kRound) {
    m_host->hide();
    m_roundHost->show();
    return;
  }
  g_pRegisterPage->setVisible(page == Page::kRegisters);
  g_pTrafficPage->setVisible(page == Page::kTraffic);
  m_roundHost->hide();
  m_host->show();
}

void CToolPages::RelayRegisterReply(const platform::Message& m) {
  m_setupActions->RelayRegisterReply(m);
  if (g_pRegisterPage) g_pRegisterPage->RelayRegisterReply(m);
}

void CToolPages::Relayout() {
  if (g_pRegisterPage) {
    g_pRegisterPage->RelayoutPage();
    CentreInHost(g_pRegisterPage, m_host);
  }
  if (g_pTrafficPage) {
    g_pTrafficPage->RelayoutPage();
    CentreInHost(g_pTrafficPage, m_host);
  }
}
