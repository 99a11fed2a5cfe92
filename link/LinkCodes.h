// Result codes of the device link; 0 is success. Codes 1 to 255 that are not named here come
// from a device's exception reply and share the number space with the link's own.
#pragma once

namespace kve17::LinkCode {

inline constexpr int Ok = 0;
inline constexpr int UnknownCommand = 1;
inline constexpr int DatabaseBusy = 6;
inline constexpr int ReceiveError = 128;
inline constexpr int ReceiveTimeout = 129;
inline constexpr int NoReply = 130;
inline constexpr int BadChecksum = 131;
inline constexpr int PortOpenFailed = 132;
inline constexpr int PortNotSet = 133;
inline constexpr int PortSetupPowerOff = 134;
inline constexpr int PortSetupFailed = 135;
inline constexpr int PortNotOpen = 256;

} // namespace kve17::LinkCode
