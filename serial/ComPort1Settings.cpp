#include "serial/ComPort1Settings.h"

#include "serial/Comport.h"

namespace kve17 {

void LoadComPort1Settings(TComPort& port) {
    port.SetDataBits(dbEight);

    TComParity& parity = port.Parity();
    parity.SetCheck(false);
    parity.SetReplace(false);
    parity.SetReplaceChar(0);

    // A reply ends at its length, or 100 ms after its last byte, or at 100 ms per byte asked
    // for plus a second from the start of the read.
    TComTimeouts& timeouts = port.Timeouts();
    timeouts.SetReadInterval(100);
    timeouts.SetReadTotalMultiplier(100);
    timeouts.SetReadTotalConstant(1000);
    timeouts.SetWriteTotalMultiplier(100);
    timeouts.SetWriteTotalConstant(1000);

    TComFlowControl& flow = port.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    flow.SetDSRSensitivity(false);
    flow.SetTxContinueOnXoff(false);
    flow.SetXonChar(17);
    flow.SetXoffChar(19);

    port.Buffer().SetInputSize(1024);
    port.Buffer().SetOutputSize(1024);
}

} // namespace kve17
