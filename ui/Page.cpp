#include "ui/Page.h"

CPage::CPage(QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), m_target(new platform::WindowTarget(this, this)) {}

// The message target goes first, so that nothing reaches this window while
// its own members are being destroyed.
CPage::~CPage() { delete m_target; }
