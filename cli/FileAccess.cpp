#include "cli/FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cli {
namespace fs = std::filesystem;

namespace {

std::string Reason(int error) { return error ? std::string(": ") + std::strerror(error) : std::string(); }

// Straight into the file: for what cannot be replaced (a device, a pipe).
bool WriteDirectly(const std::string& path, std::string_view content, std::string& error) {
  errno = 0;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) {
    error = "cannot write '" + path + "'" + Reason(errno);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadAtMost(const std::string& path, std::size_t limit, std::string& error) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read '" + path + "'" + Reason(errno);
    return std::nullopt;
  }
  std::string text;
  char buf[4096];
  // One byte past the limit tells a file that holds more from one that fits.
  while (text.size() <= limit) {
    const std::size_t want = std::min(sizeof buf, limit + 1 - text.size());
    in.read(buf, static_cast<std::streamsize>(want));
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) {
    error = "cannot read '" + path + "'";
    return std::nullopt;
  }
  if (text.size() > limit) {
    error = "'" + path + "' holds more than " + std::to_string(limit) + " bytes";
    return std::nullopt;
  }
  return text;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

bool ReplaceFile(const std::string& path, std::string_view content, std::string& error) {
  std::error_code ec;  // a path that does not exist is no error here
  fs::path target = path;
  // A link stays a link: the file it points to gets the new content.
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const fs::file_status status = fs::status(target, ec);
  const bool exists = fs::exists(status);
  if (exists && !fs::is_regular_file(status)) return WriteDirectly(target.string(), content, error);
#ifdef _WIN32
  const fs::path temporary = target.string() + ".corvelctl-new";
  if (!WriteDirectly(temporary.string(), content, error)) {
    fs::remove(temporary, ec);
    error = "cannot write '" + path + "'";
    return false;
  }
#else
  // Beside the file, so that the rename stays on one file system and is one step.
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  if (target.parent_path().empty()) pattern = "." + target.filename().string() + ".XXXXXX";
  errno = 0;
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    error = "cannot write '" + path + "'" + Reason(errno);
    return false;
  }
  const fs::path temporary = pattern;
  const auto fail = [&](int why) {
    ::close(fd);
    fs::remove(temporary, ec);
    error = "cannot write '" + path + "'" + Reason(why);
    return false;
  };
  // The new file gets the old one's permissions, or those a new file gets.
  mode_t mode = 0;
  struct stat old {};
  if (exists && ::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) return fail(errno);
  for (std::size_t done = 0; done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int why = errno;
    fs::remove(temporary, ec);
    error = "cannot write '" + path + "'" + Reason(why);
    return false;
  }
#endif
  fs::rename(temporary, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    error = "cannot write '" + path + "': " + ec.message();
    return false;
  }
  return true;
}

}  // namespace cli
