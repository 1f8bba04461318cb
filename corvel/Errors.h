// What goes wrong with a board, by kind, with the words corvelctl prints (a
// program on the library shows the same text, and its callers can tell a
// mistake of their own from a board that went away or said no).
#pragma once

#include <stdexcept>
#include <string>

namespace corvel {

enum class ErrorKind {
  kUsage,    // the caller's mistake: nothing was sent
  kLink,     // the board is not there, went away, or the link failed
  kChip,     // the board answered, and refused or could not do it
  kTimeout,  // no answer (or no interrupt) in the time given
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

class UsageError : public Error {
 public:
  explicit UsageError(const std::string& message) : Error(ErrorKind::kUsage, message) {}
};
class LinkError : public Error {
 public:
  explicit LinkError(const std::string& message) : Error(ErrorKind::kLink, message) {}
};
class ChipError : public Error {
 public:
  explicit ChipError(const std::string& message) : Error(ErrorKind::kChip, message) {}
};
class TimeoutError : public Error {
 public:
  explicit TimeoutError(const std::string& message) : Error(ErrorKind::kTimeout, message) {}
};

// A failure text of the lamp session (or of a register command on it) as the
// error of its kind: the session words every unanswered wait "No answer to
// ..." / "No interrupt report within ...", and a board that answered with a
// refusal "The board refused ..." / "The board could not ..." (or its chip
// did not: "No answer from the chip ...").
[[noreturn]] void ThrowSessionError(const std::string& text);
// The error of that kind (its own class, so that a caller catches it by type).
[[noreturn]] void ThrowError(ErrorKind kind, const std::string& text);

}  // namespace corvel
