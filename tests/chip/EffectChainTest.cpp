// The blink and fade chains step by step: each relayed acknowledgement or
// read reply, and the register command (if any) it makes the chain send.
// Also the effect data block, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "chip/EffectBlock.h"
#include "chip/EffectChain.h"

using namespace chip;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Command {
  bool read;
  std::uint8_t reg;
  Bytes data;  // the written bytes; for a read, the count
  bool operator==(const Command&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Command& c) {
  os << (c.read ? "read " : "write ") << std::hex << int(c.reg) << " [";
  for (auto b : c.data) os << " " << int(b);
  return os << " ]";
}

class RecordingPort : public RegisterPort {
 public:
  int Write(std::uint8_t reg, std::span<const std::uint8_t> data) override {
    sent.push_back({false, reg, Bytes(data.begin(), data.end())});
    return refuse ? 0 : 1;
  }
  int Read(std::uint8_t reg, std::uint8_t count) override {
    sent.push_back({true, reg, {count}});
    return refuse ? 0 : 1;
  }
  std::vector<Command> sent;
  bool refuse = false;
};

// A relayed payload: the I2C record (flag, chip address, first register,
// count, speed, spare) and the data.
Bytes Reply(std::uint8_t reg, Bytes data) {
  Bytes p(6 + data.size());
  p[0] = 1;
  p[1] = 0x5B;
  p[2] = reg;
  p[3] = static_cast<std::uint8_t>(data.size());
  p[4] = 4;
  std::copy(data.begin(), data.end(), p.begin() + 6);
  return p;
}

enum class Via { kAck, kRead };
using Outcome = EffectChain::Outcome;

struct Step {
  Via via;
  std::uint8_t reg;
  Bytes data;
  std::optional<Command> sends;  // nothing: the chain sends nothing
  Outcome outcome;
};

Command W(std::uint8_t reg, Bytes data) { return {false, reg, std::move(data)}; }
Command R(std::uint8_t reg) { return {true, reg, {1}}; }

void RunChain(Effect effect, const std::vector<Step>& steps) {
  RecordingPort port;
  EffectChain chain(port);
  ASSERT_TRUE(chain.Start(effect));
  ASSERT_EQ(port.sent, (std::vector<Command>{W(0x14, {0xFF})}));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    port.sent.clear();
    const Bytes payload = Reply(s.reg, s.data);
    const Outcome got = s.via == Via::kAck ? chain.OnWriteAcknowledged(payload) : chain.OnRegisterRead(payload);
    EXPECT_EQ(got, s.outcome) << "step " << i;
    if (s.sends) {
      EXPECT_EQ(port.sent, (std::vector<Command>{*s.sends})) << "step " << i;
    } else {
      EXPECT_TRUE(port.sent.empty()) << "step " << i << " sent " << port.sent.front();
    }
  }
  EXPECT_FALSE(chain.Waiting());
}

}  // namespace

TEST(EffectChainTest, Blink) {
  RunChain(Effect::kBlink,
           {
               // Only the acknowledgement that shows the 0xFF it wrote goes on.
               {Via::kAck, 0x14, {0xFE}, std::nullopt, Outcome::kIgnored},
               {Via::kAck, 0x15, {0x19}, std::nullopt, Outcome::kIgnored},
               {Via::kAck, 0x14, {0xFF}, W(0x04, {0x03, 0x0F}), Outcome::kNextStep},
               // A reply to a read made elsewhere is not written back.
               {Via::kRead, 0x00, {0x12}, std::nullopt, Outcome::kIgnored},
               {Via::kAck, 0x04, {0x03, 0x0F}, R(0x11), Outcome::kNextStep},
               {Via::kAck, 0x11, {0x03}, std::nullopt, Outcome::kIgnored},  // waits for data, not a write
               {Via::kRead, 0x11, {0x05}, W(0x11, {0x85}), Outcome::kNextStep},
               {Via::kAck, 0x11, {0x05}, std::nullopt, Outcome::kIgnored},  // bit 7 clear: not ours
               {Via::kAck, 0x11, {0x85}, std::nullopt, Outcome::kFinished},
               // Finished is finished: the same answers again change nothing.
               {Via::kAck, 0x14, {0xFF}, std::nullopt, Outcome::kIgnored},
               {Via::kRead, 0x11, {0x05}, std::nullopt, Outcome::kIgnored},
           });
}

TEST(EffectChainTest, FadeOn) {
  RunChain(Effect::kFadeOn,
           {
               {Via::kAck, 0x15, {0x19}, std::nullopt, Outcome::kIgnored},
               // Any data in the first acknowledgement will do.
               {Via::kAck, 0x14, {0xFE}, W(0x04, {0x00, 0x00}), Outcome::kNextStep},
               {Via::kAck, 0x04, {0x00, 0x00}, R(0x11), Outcome::kNextStep},
               {Via::kRead, 0x00, {0x12}, std::nullopt, Outcome::kIgnored},
               {Via::kRead, 0x11, {0x80}, W(0x11, {0xFF}), Outcome::kNextStep},
               {Via::kAck, 0x11, {0xFF}, W(0x02, {0x03, 0x0F}), Outcome::kNextStep},
               {Via::kAck, 0x02, {0x03, 0x0F}, std::nullopt, Outcome::kFinished},
               // The LED board page's 0x14 <- 0x00 before a brightness block
               // does not run the chain again.
               {Via::kAck, 0x14, {0x00}, std::nullopt, Outcome::kIgnored},
               {Via::kAck, 0x11, {0xFF}, std::nullopt, Outcome::kIgnored},
           });
}

TEST(EffectChainTest, FadeOff) {
  RunChain(Effect::kFadeOff, {
                                 {Via::kAck, 0x14, {0xFF}, W(0x04, {0x00, 0x00}), Outcome::kNextStep},
                                 {Via::kAck, 0x04, {0x00, 0x00}, R(0x11), Outcome::kNextStep},
                                 {Via::kRead, 0x11, {0x80}, W(0x11, {0xFF}), Outcome::kNextStep},
                                 {Via::kAck, 0x11, {0xFF}, W(0x02, {0x00, 0x00}), Outcome::kNextStep},
                                 {Via::kAck, 0x02, {0x00, 0x00}, std::nullopt, Outcome::kFinished},
                             });
}

TEST(EffectChainTest, AChainThatCannotSendStopsAndStaysStopped) {
  RecordingPort port;
  EffectChain chain(port);
  port.refuse = true;  // no board identified
  EXPECT_FALSE(chain.Start(Effect::kFadeOn));
  EXPECT_FALSE(chain.Waiting());
  EXPECT_EQ(chain.OnWriteAcknowledged(Reply(0x14, {0xFF})), Outcome::kIgnored);

  port.refuse = false;
  ASSERT_TRUE(chain.Start(Effect::kBlink));
  port.refuse = true;  // the link refuses the second step
  EXPECT_EQ(chain.OnWriteAcknowledged(Reply(0x14, {0xFF})), Outcome::kStopped);
  EXPECT_FALSE(chain.Waiting());
  port.sent.clear();
  EXPECT_EQ(chain.OnWriteAcknowledged(Reply(0x04, {0x03, 0x0F})), Outcome::kIgnored);
  EXPECT_TRUE(port.sent.empty());

  // Starting again abandons the old chain: its late answers are ignored.
  port.refuse = false;
  ASSERT_TRUE(chain.Start(Effect::kFadeOff));
  EXPECT_EQ(chain.OnWriteAcknowledged(Reply(0x04, {0x00, 0x00})), Outcome::kIgnored);
  EXPECT_EQ(chain.CurrentStep(), EffectChain::Step::kEffectStarted);
}

TEST(EffectChainTest, RepliesShorterThanTheyClaimAreIgnored) {
  RecordingPort port;
  EffectChain chain(port);
  ASSERT_TRUE(chain.Start(Effect::kBlink));
  for (const Bytes& bad : {Bytes{}, Bytes{1, 0x5B, 0x14}, Bytes{1, 0x5B, 0x14, 2, 4, 0, 0xFF}, Bytes{1, 0x5B, 0x14, 0, 4, 0}}) {
    EXPECT_EQ(chain.OnWriteAcknowledged(bad), Outcome::kIgnored);
    EXPECT_EQ(chain.OnRegisterRead(bad), Outcome::kIgnored);
  }
  EXPECT_EQ(chain.CurrentStep(), EffectChain::Step::kEffectStarted);
}

TEST(EffectChainTest, ZeroTimesRefuse) {
  EXPECT_TRUE(AnyZeroTime({1, 3, 5, 0}));
  EXPECT_FALSE(AnyZeroTime({1, 3, 5, 2}));
}

TEST(EffectBlockTest, SixteenAndSixLeds) {
  const Bytes block16 = EffectDataBlock(16);
  ASSERT_EQ(block16.size(), 84u);
  const Bytes head{0x00, 0x01, 0x30, 0x00, 0x10, 0x00, 0xC8, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(block16.begin(), block16.begin() + 10), head);
  // Ten zero bytes, 48 colour bytes and 16 brightness bytes, all zero.
  EXPECT_EQ(Bytes(block16.begin() + 10, block16.end()), Bytes(74, 0));
  EXPECT_EQ(EffectBlockHeader(5, block16.size()), (std::array<std::uint8_t, 4>{5, 2, 84, 0}));

  const Bytes block6 = EffectDataBlock(6);
  ASSERT_EQ(block6.size(), 44u);
  EXPECT_EQ(Bytes(block6.begin(), block6.begin() + 10), (Bytes{0, 1, 18, 0, 6, 0, 200, 0, 0, 0}));
  EXPECT_EQ(EffectBlockLength(10), 60u);
  // The tables hold 36 LEDs; a count past that, or below zero, is clamped.
  EXPECT_EQ(EffectBlockLength(40), 20u + 4 * 36);
  EXPECT_EQ(EffectBlockLength(-3), 20u);
}

// A step whose answer is lost (failure reply, timeout, link failure, reset:
// the main window ends every wait) never takes the reply another page asked
// for afterwards: the blink chain that lost its 0x11 read must not write
// 0x11 <- 0x9F on the register page's read, nor a fade chain run on the LED
// board page's 0x14 <- 0x00 acknowledgement.
TEST(EffectChainTest, AStepWhoseWaitEndedTakesNoLaterReply) {
  struct Case {
    Effect effect;
    int stepsAnswered;  // answers delivered before the loss
    Via via;            // how the lost step's answer comes
    std::uint8_t reg;
    Bytes data;          // the reply another page asked for
    const char* named;   // what the user is told stopped
  };
  const Case cases[] = {
      {Effect::kBlink, 0, Via::kAck, 0x14, {0xFF}, "blink: the acknowledgement of register 0x14"},
      {Effect::kBlink, 2, Via::kRead, 0x11, {0x1F}, "blink: the value of register 0x11"},
      {Effect::kFadeOn, 0, Via::kAck, 0x14, {0x00}, "fade on: the acknowledgement of register 0x14"},
      {Effect::kFadeOff, 3, Via::kAck, 0x11, {0x7F}, "fade off: the acknowledgement of register 0x11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    RecordingPort port;
    EffectChain chain(port);
    ASSERT_TRUE(chain.Start(c.effect));
    const bool blink = c.effect == Effect::kBlink;
    const Bytes answers[] = {Reply(0x14, {0xFF}), Reply(0x04, {0x03, 0x0F}), Reply(0x11, {0x00}),
                             Reply(0x11, {static_cast<std::uint8_t>(blink ? 0x80 : 0x7F)})};
    for (int i = 0; i < c.stepsAnswered; ++i)
      ASSERT_EQ(i == 2 ? chain.OnRegisterRead(answers[i]) : chain.OnWriteAcknowledged(answers[i]), Outcome::kNextStep);
    const auto ended = EndReplyWaits();
    EXPECT_NE(std::find(ended.begin(), ended.end(), std::string(c.named)), ended.end());
    EXPECT_FALSE(chain.Waiting());
    const std::size_t sentBefore = port.sent.size();
    const Bytes late = Reply(c.reg, c.data);
    EXPECT_EQ(c.via == Via::kRead ? chain.OnRegisterRead(late) : chain.OnWriteAcknowledged(late), Outcome::kIgnored);
    EXPECT_EQ(port.sent.size(), sentBefore);
    // A new start is not held up by the ended wait.
    EXPECT_TRUE(chain.Start(c.effect));
    EXPECT_EQ(chain.OnWriteAcknowledged(Reply(0x14, {0xFF})), Outcome::kNextStep);
  }
}
