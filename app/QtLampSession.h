// The lamp session on the window's event loop: the session's timers and
// pauses run on Qt's, and what the session tells its observer comes out as
// signals, delivered at once (direct connections), in the order it happens.
// The window decides only what to show and what to ask of its pages.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>

#include "session/LampSession.h"

class QTimer;

class QtLampSession final : public QObject, public session::SessionObserver, public session::SessionHost {
  Q_OBJECT
 public:
  // What the session asks of the window's pages.
  struct Owner {
    std::function<bool()> sendChipAddress;           // false: no page to take it from
    std::function<bool(std::uint8_t)> isChosenBoard;
    std::function<std::uint8_t()> boardKind;
  };

  QtLampSession(session::LampSession& session, Owner owner, QObject* parent);
  ~QtLampSession() override;

  session::LampSession& Session() { return session_; }

  // SessionHost
  void SetTimer(std::uint32_t id, std::uint32_t ms) override;
  void KillTimer(std::uint32_t id) override;
  bool IsTimerArmed(std::uint32_t id) const override;
  void RunAfterPause(std::uint32_t ms, std::function<void()> then) override;
  bool SendChipAddress() override { return owner_.sendChipAddress && owner_.sendChipAddress(); }
  bool IsChosenBoard(std::uint8_t id) const override { return owner_.isChosenBoard && owner_.isChosenBoard(id); }
  std::uint8_t BoardKind() const override;

 signals:
  void connecting();
  // `text` is null for a state without a text.
  void linkShown(bool up, const QString& text);
  void reopening();
  void inBootloader();
  void boardGone();
  void linkFailed(bool givingUp);
  void boardMatched();
  // `id`: the id the board answered, or -1 for a reply without one.
  void boardMismatch(int id);
  void versionAnswered(const QString& version);

 private:
  // SessionObserver
  void OnConnecting() override { emit connecting(); }
  void OnLinkShown(bool up, const std::optional<std::string>& text) override {
    emit linkShown(up, text ? QString::fromStdString(*text) : QString());
  }
  void OnReopening() override { emit reopening(); }
  void OnInBootloader() override { emit inBootloader(); }
  void OnBoardGone() override { emit boardGone(); }
  void OnLinkFailed(bool givingUp) override { emit linkFailed(givingUp); }
  void OnBoardMatched() override { emit boardMatched(); }
  void OnBoardMismatch(std::optional<std::uint8_t> id) override { emit boardMismatch(id ? *id : -1); }
  void OnVersion(const std::string& version) override { emit versionAnswered(QString::fromStdString(version)); }

  session::LampSession& session_;
  Owner owner_;
  std::map<std::uint32_t, QTimer*> timers_;
};
