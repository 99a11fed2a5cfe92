// Line settings of the serial port driver, in the order and with the ordinals the link relies on.
#pragma once

#include <cstdint>

namespace kve17 {

enum TBaudRate : int {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};

enum TParityBits : int { prNone, prOdd, prEven, prMark, prSpace };
enum TStopBits : int { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : int { dbFive, dbSix, dbSeven, dbEight };
enum TDTRFlowControl : int { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : int { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };

// Bits per second of a rate; brCustom gives `custom`.
int BaudRateValue(TBaudRate rate, int custom);

} // namespace kve17
