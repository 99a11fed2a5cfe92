// Errors of the serial port driver: a numbered code, the system error number and an English text.
#pragma once

#include <stdexcept>
#include <string>

namespace kve17 {

// Member with ordinal n - 1 stands for driver error code n.
enum TComExceptions : int {
    CE_OpenFailed,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_InvalidAsync,
    CE_PurgeFailed,
    CE_AsyncCheck,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_SetupComFailed,
    CE_ClearComFailed,
    CE_ModemStatFailed,
    CE_EscapeComFailed,
    CE_TransmitFailed,
    CE_ConnChangeProp,
    CE_EnumPortsFailed,
    CE_StoreFailed,
    CE_LoadFailed,
    CE_RegFailed,
    CE_LedStateFailed,
    CE_ThreadCreated,
    CE_WaitFailed,
    CE_HasLink,
    CE_RegError,
    CEPortNotOpen,
};

// The fixed English text of driver error code 1 to 24; "" for any other code.
const char* ComErrorText(int code);

// Why a device server could not be reached, where the error number alone says too little; ""
// for other numbers.
const char* NetworkOpenText(int systemError);

class EComPort : public std::runtime_error {
public:
    // systemError 0 or -1 means the failure has no system error number: the message is the
    // code's text alone and SystemError is -1. Otherwise " (Error: %d)" follows the text.
    EComPort(TComExceptions kind, int systemError);
    explicit EComPort(TComExceptions kind) : EComPort(kind, -1) {}
    // The message goes on with ": " and `detail`, for failures the code alone cannot explain.
    EComPort(TComExceptions kind, int systemError, const std::string& detail);

    int SystemError;
    int PortError;
};

// The echo of an echoing adapter did not come back as sent: noise on the line, like a garbled
// reply, which the exchange repeats.
class EEchoFault : public EComPort {
public:
    using EComPort::EComPort;
};

// A failed open that another program's hold on the line explains: a local line it has locked, or
// a device server that turns a second connection away (it closes it, or refuses it). Such a
// line may be waited for.
bool HeldElsewhere(const EComPort& e);

} // namespace kve17
