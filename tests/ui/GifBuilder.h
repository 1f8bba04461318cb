// Small GIFs made to measure for the tests: a four-colour global table
// (0 white, 1 red, 2 green, 3 blue), frames with or without a graphic control
// extension, and image data any GIF reader decodes (a clear code before every
// two pixels keeps every code three bits wide), or data no reader accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
  std::uint16_t left = 0, top = 0, width = 1, height = 1;
  std::uint8_t colour = 1;  // every pixel
  std::optional<std::uint16_t> delay = 10;  // none: no graphic control extension
  std::uint8_t disposal = 0;
  bool broken = false;  // image data that cannot be decoded
  bool commentBetween = false;  // a comment between the control extension and the image
};

inline void PutU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutSubBlocks(Bytes& b, const Bytes& data) {
  for (std::size_t i = 0; i < data.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, data.size() - i);
    b.push_back(static_cast<std::uint8_t>(n));
    b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  b.push_back(0);
}

// LZW with a minimum code size of 2: clear (4), up to two pixels, clear, ...
// end (5), three bits each, packed from the low bit up.
inline Bytes ImageData(std::size_t pixels, std::uint8_t colour) {
  Bytes out;
  unsigned bits = 0, count = 0;
  auto put = [&](unsigned code) {
    bits |= code << count;
    count += 3;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
      bits >>= 8;
      count -= 8;
    }
  };
  for (std::size_t i = 0; i < pixels; ++i) {
    if (i % 2 == 0) put(4);
    put(colour & 3u);
  }
  put(5);
  if (count) out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
  return out;
}

inline Bytes MakeGif(std::uint16_t width, std::uint16_t height, const std::vector<Frame>& frames,
                     bool extras = true) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  PutU16(b, width);
  PutU16(b, height);
  b.insert(b.end(), {0x81, 0, 0});  // a global table of four colours
  b.insert(b.end(), {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  if (extras) {
    const std::string app = "NETSCAPE2.0";
    b.insert(b.end(), {0x21, 0xFF, 11});
    b.insert(b.end(), app.begin(), app.end());
    PutSubBlocks(b, {1, 0, 0});
    b.insert(b.end(), {0x21, 0xFE});
    PutSubBlocks(b, {'t', 'e', 's', 't'});
  }
  for (const Frame& f : frames) {
    if (f.delay) {
      b.insert(b.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(f.disposal << 2)});
      PutU16(b, *f.delay);
      b.insert(b.end(), {0, 0});
    }
    if (f.commentBetween) {
      b.insert(b.end(), {0x21, 0xFE});
      PutSubBlocks(b, {'x'});
    }
    b.push_back(0x2C);
    PutU16(b, f.left);
    PutU16(b, f.top);
    PutU16(b, f.width);
    PutU16(b, f.height);
    b.push_back(0);
    b.push_back(2);  // LZW minimum code size
    PutSubBlocks(b, f.broken ? Bytes{0xFF, 0xFF, 0xFF} : ImageData(std::size_t{f.width} * f.height, f.colour));
  }
  b.push_back(0x3B);
  return b;
}

}  // namespace giftest
