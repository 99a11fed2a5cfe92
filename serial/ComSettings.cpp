#include "serial/ComSettings.h"

#include "serial/Comport.h"

namespace kve17 {

void TComParity::Changed() {
    if (port_ != nullptr)
        port_->ApplyDCB();
}
void TComParity::SetBits(TParityBits value) {
    if (Store(bits_, value))
        Changed();
}
void TComParity::SetCheck(bool value) {
    if (Store(check_, value))
        Changed();
}
void TComParity::SetReplace(bool value) {
    if (Store(replace_, value))
        Changed();
}
void TComParity::SetReplaceChar(char value) {
    if (Store(replaceChar_, value))
        Changed();
}

void TComTimeouts::Changed() {
    if (port_ != nullptr)
        port_->ApplyTimeouts();
}
void TComTimeouts::SetReadInterval(int value) {
    if (Store(readInterval_, value))
        Changed();
}
void TComTimeouts::SetReadTotalMultiplier(int value) {
    if (Store(readTotalMultiplier_, value))
        Changed();
}
void TComTimeouts::SetReadTotalConstant(int value) {
    if (Store(readTotalConstant_, value))
        Changed();
}
void TComTimeouts::SetWriteTotalMultiplier(int value) {
    if (Store(writeTotalMultiplier_, value))
        Changed();
}
void TComTimeouts::SetWriteTotalConstant(int value) {
    if (Store(writeTotalConstant_, value))
        Changed();
}

void TComFlowControl::Changed() {
    if (port_ != nullptr)
        port_->ApplyDCB();
}
void TComFlowControl::SetOutCTSFlow(bool value) {
    if (Store(outCTSFlow_, value))
        Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
    if (Store(outDSRFlow_, value))
        Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
    if (Store(controlDTR_, value))
        Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
    if (Store(controlRTS_, value))
        Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
    if (Store(xonXoffOut_, value))
        Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
    if (Store(xonXoffIn_, value))
        Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
    if (Store(dsrSensitivity_, value))
        Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
    if (Store(txContinueOnXoff_, value))
        Changed();
}
void TComFlowControl::SetXonChar(char value) {
    if (Store(xonChar_, value))
        Changed();
}
void TComFlowControl::SetXoffChar(char value) {
    if (Store(xoffChar_, value))
        Changed();
}

void TComBuffer::Changed() {
    if (port_ != nullptr)
        port_->ApplyBuffer();
}
void TComBuffer::SetInputSize(int value) {
    if (Store(inputSize_, value))
        Changed();
}
void TComBuffer::SetOutputSize(int value) {
    if (Store(outputSize_, value))
        Changed();
}

} // namespace kve17
