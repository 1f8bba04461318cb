// Where a page or dialog tells the user something: the status band of the
// window it sits in. The window hands it to the pages it makes; a page made
// without one (a test's, a page on its own) tells nobody.
#pragma once

#include <QString>

class StatusSink {
 public:
  virtual ~StatusSink() = default;
  // A status text for a few seconds: teal when `ok`, red when not.
  virtual void ShowStatus(const QString& text, bool ok) = 0;
  // Why nothing could be sent to the chip: no board, a board in its
  // bootloader, a failed link, a board that does not answer.
  virtual void ShowNotConnected() = 0;
  // The board has just been opened and is settling or being identified: a
  // notice repeated by a timer would only flash "not connected" at a board
  // that is about to be.
  virtual bool LinkComingUp() const { return false; }
};
