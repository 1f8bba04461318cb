#include "link/LinkState.h"

const char* LinkStateText(int code) {
  switch (code) {
    case kLinkProtocolNotMatch: return " USB Hid protocol not match!";
    case kLinkEventIdError: return " USB Hid protocol event id error!";
    case kLinkDeviceNotFound: return " USB Hid device not found!";
    case kLinkDeviceFound: return " USB Hid device found, but chip not connected!";
    case kLinkGpioError: return " Control QV gpio error!";
    case kLinkFailed: return " USB Hid link failed, the board does not answer!";
    default: return nullptr;
  }
}

bool LinkStateIsDown(int code) {
  return code == kLinkProtocolNotMatch || code == kLinkDeviceNotFound || code == kLinkFailed;
}
