// The process-wide engine with a host that records what it writes, a sleeper
// that records pauses, and a queue standing in for the main window. Every test
// runs in its own process, so the engine starts clean.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "link/LinkHost.h"
#include "link/ProtocolEngine.h"
#include "link/QVProtocol.h"
#include "platform/MessageTarget.h"
#include "platform/Sleep.h"
#include "support/TestFrames.h"

class RecordingHost : public EngineHost {
 public:
  int WriteReport(const std::uint8_t* data, int length) override {
    std::lock_guard lock(mutex);
    reports.emplace_back(data, data + length);
    return 1;
  }
  void SetLinkState(int code) override {
    std::lock_guard lock(mutex);
    linkState = code;
  }
  void PostLinkState() override {
    std::lock_guard lock(mutex);
    posted.push_back(linkState);
  }
  // Every report written so far, joined, then forgotten.
  testframes::Bytes TakeWire() {
    std::lock_guard lock(mutex);
    testframes::Bytes all;
    for (auto& r : reports) all.insert(all.end(), r.begin(), r.end());
    reports.clear();
    return all;
  }
  std::vector<testframes::Bytes> TakeReports() {
    std::lock_guard lock(mutex);
    return std::exchange(reports, {});
  }

  std::mutex mutex;
  std::vector<testframes::Bytes> reports;
  int linkState = -1;
  std::vector<int> posted;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    protocol.UseCrc16();
    g_pProtocol = &protocol;
    platform::SetSleepHook([this](std::uint32_t ms) {
      std::lock_guard lock(host.mutex);
      sleeps.push_back(ms);
    });
    engine().SetHost(&host);
    engine().ResetLink();
    corvel::SetMainDialogHandle(main.handle());
    corvel::SetChipRegistryPresent(true);
  }
  void TearDown() override {
    engine().SetHost(nullptr);
    corvel::SetMainDialogHandle(platform::kNoHandle);
    corvel::SetChipRegistryPresent(false);
    platform::SetSleepHook({});
    g_pProtocol = nullptr;
  }

  static ProtocolEngine& engine() { return ProtocolEngine::Instance(); }

  // Feeds a frame from the board, report by report; returns how many reports
  // completed a frame.
  int Receive(const testframes::Bytes& f) {
    int completed = 0;
    for (const auto& r : testframes::Cut(f)) {
      engine().QueueReport(r.data());
      completed += engine().ProcessReport();
    }
    return completed;
  }
  void Ack(std::uint16_t seq, std::uint8_t type = 0x10) { Receive(testframes::BoardAck(seq, type)); }

  CQVProtocol protocol;
  RecordingHost host;
  std::vector<std::uint32_t> sleeps;
  platform::ScopedQueueTarget main;
};
