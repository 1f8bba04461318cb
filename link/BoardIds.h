// The board ids a lamp board reports in its answer to the board query, and the
// chip board each one carries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct ChipBoardEntry {
  std::uint8_t boardId;
  const char* name;
  std::uint8_t ledCount;
};

inline constexpr ChipBoardEntry kChipBoards[] = {
    {0, "QV6031", 16}, {1, "QV6033", 6}, {3, "QV6032", 10}, {5, "QV6035", 16}, {128, "QV6034", 16},
};

inline const ChipBoardEntry* FindChipBoard(std::uint8_t boardId) {
  for (const auto& e : kChipBoards)
    if (e.boardId == boardId) return &e;
  return nullptr;
}

// The id is byte 2 of the reply; a reply too short to hold it names no board.
inline std::optional<std::uint8_t> BoardIdFromReply(std::span<const std::uint8_t> payload) {
  if (payload.size() < 3) return std::nullopt;
  return payload[2];
}

// Board kind sent in the chip block header once the LED board page exists.
inline constexpr std::uint8_t kBoardKindRoundPage = 4;
// Board kind once a chip board is chosen. The board query's answer chooses
// one for every board that matches (none is chosen at start), so this is
// the kind an effect upload carries.
inline constexpr std::uint8_t kBoardKindChosen = 5;
