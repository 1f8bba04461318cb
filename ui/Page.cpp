#include "ui/Page.h"

CPage::CPage(QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), m_target(std::make_unique<platform::WindowTarget>(nullptr, this)) {}

// The message target goes first, so that nothing reaches this window while
// its own members are being destroyed.
CPage::~CPage() { m_target.reset(); }
