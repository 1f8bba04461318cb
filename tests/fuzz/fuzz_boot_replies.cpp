// Plays the bootloader with arbitrary answers: each record the update worker
// sends is answered from the input, which decides per record whether to
// answer with its next 64 bytes, with a correct echo (so that the worker
// gets through blocks to the check and the end), with nothing, or to ask the
// worker to stop or say the board went; past the input's end it answers
// correctly. Whatever comes back, the worker must
// not read or write out of bounds, must end, and must never send the end
// record for an image it did not write whole (nor, with a check word, before
// the bootloader accepted the check).
//
// The oracle judges by what the worker was handed and could accept, not by
// how the answer was made: a record taken raw from the input that happens to
// be a correct echo is as good as one the script built, and the worker is
// right to go on after it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "firmware/BootRecord.h"
#include "firmware/BootTransfer.h"

namespace {

struct Script {
  std::span<const std::uint8_t> input;
  std::size_t at = 0;
  BootTransferContext* context = nullptr;
  std::uint32_t imageLength = 0;
  std::uint32_t checkWord = 0;
  std::vector<bool> blockAccepted;  // per block: a correct echo reached the worker
  bool checkAccepted = false;
  bool endSentEarly = false;

  bool Take(std::uint8_t& byte) {
    if (at >= input.size()) return false;
    byte = input[at++];
    return true;
  }

  // Called on the worker thread for every record it sends.
  bool Answer(const boot::Record& request) {
    if (request[boot::kOpcodeOffset] == boot::kOpEnd) {
      const bool whole = std::all_of(blockAccepted.begin(), blockAccepted.end(), [](bool b) { return b; });
      if (!whole || (checkWord != 0 && !checkAccepted)) endSentEarly = true;
    }
    // Once the input is used up the bootloader behaves, so that the worker
    // ends without waiting out a timeout.
    std::uint8_t control = 2;
    Take(control);
    boot::Record reply{};
    switch (control & 7) {
      case 0:
      case 1: {  // the next 64 bytes as they are
        const std::size_t n = std::min<std::size_t>(boot::kRecordSize, input.size() - at);
        std::memcpy(reply.data(), input.data() + at, n);
        at += n;
        break;
      }
      case 2:
      case 3:
      case 4:  // what a good bootloader says
        reply = request;
        if (request[boot::kOpcodeOffset] == boot::kOpBlock) {
          reply[boot::kOpcodeOffset] = boot::kOpBlockEcho;
        } else {
          reply[boot::kResultOffset] = boot::kResultDone;
        }
        break;
      case 5: return true;  // silent this once
      case 6: context->RequestStop(); return true;
      case 7: context->OnDeviceRemoved(); return true;
    }
    context->OnBootReply(reply.data());
    const bool sent = (control & 0x80) == 0;  // now and then the record cannot be sent at all
    if (sent) NoteAccepted(request, reply);
    return sent;
  }

  // What the worker accepts of an answer to a request it managed to send.
  void NoteAccepted(const boot::Record& request, const boot::Record& reply) {
    const std::uint8_t op = request[boot::kOpcodeOffset];
    if (op == boot::kOpBlock && reply[boot::kOpcodeOffset] == boot::kOpBlockEcho &&
        std::equal(reply.begin() + boot::kEchoFirst, reply.begin() + boot::kEchoEnd,
                   request.begin() + boot::kEchoFirst)) {
      const std::size_t block = boot::GetU32(request.data() + boot::kNumberOffset) / boot::kBlockSize;
      if (block < blockAccepted.size()) blockAccepted[block] = true;
    }
    if (op == boot::kOpCheck && reply[boot::kOpcodeOffset] == boot::kOpCheck &&
        reply[boot::kResultOffset] == boot::kResultDone)
      checkAccepted = true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  Script script;
  script.input = std::span<const std::uint8_t>(data, size);
  script.at = 5;
  // A short image (N from the input), its check word from the input too.
  script.imageLength = 1 + data[0] % 160;
  const std::uint32_t checkWord = boot::GetU32(data + 1);
  script.checkWord = checkWord;
  script.blockAccepted.assign((script.imageLength + boot::kBlockSize - 1) / boot::kBlockSize, false);
  std::vector<std::uint8_t> image(script.imageLength + 12, 0xA5);

  // On this thread: the script answers inside each send, so a step it leaves
  // silent has timed out by the time the worker looks, without waiting.
  BootTransferContext context([&](const boot::Record& r) { return script.Answer(r); });
  script.context = &context;
  if (!context.RunTransfer(image, script.imageLength, checkWord)) __builtin_trap();
  context.Join();
  if (context.IsRunning()) __builtin_trap();
  if (script.endSentEarly) __builtin_trap();
  // A stray record after the worker has ended is kept and changes nothing.
  boot::Record stray{};
  std::memcpy(stray.data(), data, std::min<std::size_t>(size, stray.size()));
  context.OnBootReply(stray.data());
  return 0;
}
