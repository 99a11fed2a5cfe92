// The settings groups of a serial port. Each holds a back-reference to its port: a setter stores
// the value and, when it changed, runs the port's matching apply step, which acts only while the
// port is connected.
#pragma once

#include "serial/ComTypes.h"

namespace kve17 {

class TCustomComPort;

// Stores `value`; true when it differs from what was there.
template <class T> bool Store(T& field, T value) {
    if (field == value)
        return false;
    field = value;
    return true;
}

class TComSettingsGroup {
public:
    TComSettingsGroup(const TComSettingsGroup&) = delete;
    TComSettingsGroup& operator=(const TComSettingsGroup&) = delete;

protected:
    explicit TComSettingsGroup(TCustomComPort* port) : port_(port) {}
    ~TComSettingsGroup() = default;

    TCustomComPort* port_;
};

class TComParity : public TComSettingsGroup {
public:
    explicit TComParity(TCustomComPort* port = nullptr) : TComSettingsGroup(port) {}

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }

    void SetBits(TParityBits value);
    void SetCheck(bool value);
    void SetReplace(bool value);
    void SetReplaceChar(char value);

private:
    void Changed();

    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

// Milliseconds; -1 stands for the largest value ("MAXDWORD"). Read: Interval between two bytes
// after the first (0: none); total TotalMultiplier x count + TotalConstant from the start of the
// read (both 0: none). Interval -1 with both totals 0 returns at once with what is queued.
class TComTimeouts : public TComSettingsGroup {
public:
    explicit TComTimeouts(TCustomComPort* port = nullptr) : TComSettingsGroup(port) {}

    int ReadInterval() const { return readInterval_; }
    int ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int ReadTotalConstant() const { return readTotalConstant_; }
    int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int WriteTotalConstant() const { return writeTotalConstant_; }

    void SetReadInterval(int value);
    void SetReadTotalMultiplier(int value);
    void SetReadTotalConstant(int value);
    void SetWriteTotalMultiplier(int value);
    void SetWriteTotalConstant(int value);

private:
    void Changed();

    int readInterval_ = -1;
    int readTotalMultiplier_ = 0;
    int readTotalConstant_ = 0;
    int writeTotalMultiplier_ = 100;
    int writeTotalConstant_ = 1000;
};

class TComFlowControl : public TComSettingsGroup {
public:
    explicit TComFlowControl(TCustomComPort* port = nullptr) : TComSettingsGroup(port) {}

    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }

    void SetOutCTSFlow(bool value);
    void SetOutDSRFlow(bool value);
    void SetControlDTR(TDTRFlowControl value);
    void SetControlRTS(TRTSFlowControl value);
    void SetXonXoffOut(bool value);
    void SetXonXoffIn(bool value);
    void SetDSRSensitivity(bool value);
    void SetTxContinueOnXoff(bool value);
    void SetXonChar(char value);
    void SetXoffChar(char value);

private:
    void Changed();

    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

// Queue sizes. The terminal driver's queues have fixed sizes: the values are kept, not applied.
class TComBuffer : public TComSettingsGroup {
public:
    explicit TComBuffer(TCustomComPort* port = nullptr) : TComSettingsGroup(port) {}

    int InputSize() const { return inputSize_; }
    int OutputSize() const { return outputSize_; }

    void SetInputSize(int value);
    void SetOutputSize(int value);

private:
    void Changed();

    int inputSize_ = 1024;
    int outputSize_ = 1024;
};

} // namespace kve17
