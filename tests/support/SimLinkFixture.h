// The whole host side (protocol object, engine, transport manager, HID
// transport with its real reader thread) in front of a simulated board. The
// test thread plays the main window: it receives the posted notifications and
// hands device changes to the transport manager, as the window does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "link/QVProtocol.h"
#include "sim/SimBackend.h"
#include "platform/MessageTarget.h"
#include "platform/Messages.h"
#include "platform/Sleep.h"
#include "sim/SimBoard.h"

class SimLinkFixture : public ::testing::Test {
 protected:
  virtual sim::SimConfig BoardConfig() const { return {}; }

  void SetUp() override {
    protocol.UseCrc16();
    g_pProtocol = &protocol;
    platform::SetSleepHook([this](std::uint32_t ms) {
      std::lock_guard lock(sleepMutex);
      sleeps.push_back(ms);
    });
    corvel::SetMainDialogHandle(main.handle());
    corvel::SetChipRegistryPresent(true);
    corvel::SetTraceSink([](const std::string&) {});
    board = std::make_unique<sim::SimBoard>(BoardConfig());
    const platform::Handle h = main.handle();
    board->SetDeviceEventListener(
        [h](std::uint32_t event) { platform::PostMessage(h, platform::WM_DEVICECHANGE, event); });
    auto owned = std::make_unique<SimBackend>(*board);
    backend = owned.get();
    comm = std::make_unique<QVCommunication>(std::move(owned));
    g_pCommunication = comm.get();
    comm->Init();
    comm->RegisterForDeviceNotifications(main.handle());
  }

  void TearDown() override {
    g_pCommunication = nullptr;
    comm.reset();
    board->SetDeviceEventListener({});
    board.reset();
    corvel::SetBootDialogHandle(platform::kNoHandle);
    corvel::SetMainDialogHandle(platform::kNoHandle);
    corvel::SetChipRegistryPresent(false);
    corvel::SetTraceSink({});
    platform::SetSleepHook({});
    g_pProtocol = nullptr;
  }

  // The next message with this id; device changes met on the way are handled
  // like the window handles them.
  std::optional<platform::Message> Await(std::uint32_t id, std::chrono::milliseconds timeout =
                                                               std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      auto m = main->Wait(std::chrono::milliseconds(10));
      if (!m) continue;
      if (m->id == platform::WM_DEVICECHANGE) comm->OnDeviceChange(static_cast<std::uint32_t>(m->wParam), 0);
      if (m->id == id) return m;
    }
    return std::nullopt;
  }

  // Handles pending device changes for a while, collecting everything else.
  std::vector<platform::Message> Settle(std::chrono::milliseconds span = std::chrono::milliseconds(100)) {
    std::vector<platform::Message> seen;
    const auto deadline = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < deadline) {
      auto m = main->Wait(std::chrono::milliseconds(5));
      if (!m) continue;
      if (m->id == platform::WM_DEVICECHANGE) comm->OnDeviceChange(static_cast<std::uint32_t>(m->wParam), 0);
      seen.push_back(*m);
    }
    return seen;
  }

  void ConnectLinked() {
    ASSERT_EQ(comm->Connect(), 1);
    auto m = Await(platform::kMsgLinkState);
    ASSERT_TRUE(m);
    ASSERT_EQ(m->wParam, 3u);
  }

  std::vector<std::uint32_t> Sleeps() {
    std::lock_guard lock(sleepMutex);
    return sleeps;
  }

  CQVProtocol protocol;
  platform::ScopedQueueTarget main;
  std::unique_ptr<sim::SimBoard> board;
  SimBackend* backend = nullptr;
  std::unique_ptr<QVCommunication> comm;
  std::mutex sleepMutex;
  std::vector<std::uint32_t> sleeps;
};
