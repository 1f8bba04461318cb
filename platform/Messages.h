// Message numbers posted between the link, the worker threads and the windows.
// They keep the numbers the board tools have always used (WM_USER + N), so that
// traces and notes from either side line up.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;

// Device-change events carried by WM_DEVICECHANGE.
inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// Link and result notifications to the main window.
inline constexpr std::uint32_t kMsgLinkState = WM_USER + 101;          // wParam = link-state code
inline constexpr std::uint32_t kMsgRegisterRead = WM_USER + 102;       // (16,2) / (16,18)
inline constexpr std::uint32_t kMsgRegisterReadFailed = WM_USER + 104; // (16,48)
inline constexpr std::uint32_t kMsgGpioControlStatus = WM_USER + 105;  // (32,17)
inline constexpr std::uint32_t kMsgBoardEvent18 = WM_USER + 106;       // (32,18)
inline constexpr std::uint32_t kMsgBoardEvent19 = WM_USER + 107;       // (32,19)
inline constexpr std::uint32_t kMsgBoardEvent81 = WM_USER + 108;       // (32,81)
inline constexpr std::uint32_t kMsgFirmwareVersion = WM_USER + 203;    // (1,33), lParam = VersionRecord
inline constexpr std::uint32_t kMsgBoardQueryOk = WM_USER + 320;       // (64,2)
inline constexpr std::uint32_t kMsgBoardQueryFailed = WM_USER + 321;   // (64,3)
inline constexpr std::uint32_t kMsgSetDataOk = WM_USER + 324;
inline constexpr std::uint32_t kMsgSetDataFailed = WM_USER + 325;
inline constexpr std::uint32_t kMsgTextOk = WM_USER + 329;             // wParam = const char* text
inline constexpr std::uint32_t kMsgTextFailed = WM_USER + 330;         // wParam = const char* text
inline constexpr std::uint32_t kMsgBootCommandFailed = WM_USER + 331;  // to the firmware-update window
inline constexpr std::uint32_t kMsgBootStatus = WM_USER + 333;         // wParam = status, lParam = value
inline constexpr std::uint32_t kMsgOpenShortOk = WM_USER + 335;
inline constexpr std::uint32_t kMsgOpenShortFailed = WM_USER + 336;
inline constexpr std::uint32_t kMsgRegisterWritten = WM_USER + 337;    // (16,4) / (16,25)
inline constexpr std::uint32_t kMsgInterrupt = WM_USER + 360;          // (32,37)

// Relays from the main window to its pages.
inline constexpr std::uint32_t kMsgPageWriteAck = WM_USER + 344;       // LED board page
inline constexpr std::uint32_t kMsgGpioInputRead = WM_USER + 346;
inline constexpr std::uint32_t kMsgFadeWriteAck = WM_USER + 347;
inline constexpr std::uint32_t kMsgBlinkWriteAck = WM_USER + 348;
inline constexpr std::uint32_t kMsgBlinkRead = WM_USER + 349;
inline constexpr std::uint32_t kMsgFadeRead = WM_USER + 350;
inline constexpr std::uint32_t kMsgGpioOutputRead = WM_USER + 351;
inline constexpr std::uint32_t kMsgPageInterrupt = WM_USER + 361;

// Relays to the register page, beside the ones above: it notes every value
// it sees and acts only on the replies to its own reads and writes.
inline constexpr std::uint32_t kMsgRegisterPageRead = WM_USER + 370;
inline constexpr std::uint32_t kMsgRegisterPageReadFailed = WM_USER + 371;
inline constexpr std::uint32_t kMsgRegisterPageWritten = WM_USER + 372;

}  // namespace platform
