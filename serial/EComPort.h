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

} // namespace kve17
