#include "setup/SetupLoader.h"

namespace setup {

bool SetupLoader::Start(std::vector<RegisterWrite> writes) {
  m_writes = std::move(writes);
  m_next = 0;
  m_finished = false;
  m_sendFailed = false;
  m_wait.Clear();
  if (m_writes.empty()) {
    m_finished = true;
    return true;
  }
  return Send();
}

bool SetupLoader::Send() {
  const RegisterWrite& w = m_writes[m_next];
  m_wait.Expect(w.reg, "setup: " + DescribeStep(m_next));
  if (m_port->Write(w.reg, w.data) == 1) return true;
  m_wait.Clear();
  m_sendFailed = true;
  return false;
}

SetupLoader::Outcome SetupLoader::OnWriteAcknowledged(std::span<const std::uint8_t> payload) {
  const auto reply = chip::ParseRegisterReply(payload);
  if (!reply || !m_wait.Take(*reply)) return Outcome::kIgnored;
  if (++m_next == m_writes.size()) {
    m_finished = true;
    return Outcome::kFinished;
  }
  return Send() ? Outcome::kNextStep : Outcome::kStopped;
}

std::optional<std::size_t> SetupLoader::StoppedAt() const {
  if (m_finished || m_writes.empty()) return std::nullopt;
  if (m_sendFailed || m_wait.Ended()) return m_next;
  return std::nullopt;
}

std::string SetupLoader::DescribeStep(std::size_t i) const {
  if (i >= m_writes.size()) return {};
  return "step " + std::to_string(i + 1) + " of " + std::to_string(m_writes.size()) + " (" + WriteText(m_writes[i]) +
         ", " + m_writes[i].what + ")";
}

void SetupLoader::Cancel() {
  m_wait.Clear();
  m_writes.clear();
  m_next = 0;
  m_finished = false;
  m_sendFailed = false;
}

}  // namespace setup
