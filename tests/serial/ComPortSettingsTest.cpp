// Line settings reaching the terminal, as the far end of a pseudo-terminal sees them, set before
// and after Open; refused settings; setters that must not touch the device.
#include "serial/TtyTermios.h"
#include "tests/serial/PtyPortFixture.h"

#include <cerrno>
#include <string>

namespace kve17::test {
namespace {

struct LineCase {
    std::string Name;
    std::function<void(TComPort&)> Set;
    int Rate = 0; // expected bits per second; 0: 9600
    tcflag_t CflagMask = 0;
    tcflag_t Cflag = 0;
    tcflag_t IflagMask = 0;
    tcflag_t Iflag = 0;
};

LineCase Rate(TBaudRate rate, int bitsPerSecond) {
    return {"Rate" + std::to_string(bitsPerSecond), [rate](TComPort& p) { p.SetBaudRate(rate); },
            bitsPerSecond};
}

LineCase Custom(int bitsPerSecond) {
    return {"Custom" + std::to_string(bitsPerSecond),
            [bitsPerSecond](TComPort& p) {
                p.SetCustomBaudRate(bitsPerSecond);
                p.SetBaudRate(brCustom);
            },
            bitsPerSecond};
}

// A pty keeps no parity bit and forces eight data bits, so PARENB and CSIZE are not seen here.
const std::vector<LineCase> kLineCases = {
    Rate(br110, 110),
    Rate(br300, 300),
    Rate(br600, 600),
    Rate(br1200, 1200),
    Rate(br2400, 2400),
    Rate(br4800, 4800),
    Rate(br9600, 9600),
    Rate(br14400, 14400),
    Rate(br19200, 19200),
    Rate(br38400, 38400),
    Rate(br56000, 56000),
    Rate(br57600, 57600),
    Rate(br115200, 115200),
    Rate(br128000, 128000),
    Rate(br256000, 256000),
    Custom(12345),
    Custom(115200),
    {"RawModeWithoutModemControl", [](TComPort&) {}, 0, CLOCAL | CREAD | HUPCL | CRTSCTS | CSTOPB,
     CLOCAL | CREAD, IXON | IXOFF | INPCK | ICRNL, 0},
    {"ParityOdd", [](TComPort& p) { p.SetParityBits(prOdd); }, 0, PARODD | CMSPAR, PARODD},
    {"ParityEven", [](TComPort& p) { p.SetParityBits(prEven); }, 0, PARODD | CMSPAR, 0},
    {"ParityMark", [](TComPort& p) { p.Parity().SetBits(prMark); }, 0, PARODD | CMSPAR,
     PARODD | CMSPAR},
    {"ParitySpace", [](TComPort& p) { p.Parity().SetBits(prSpace); }, 0, PARODD | CMSPAR, CMSPAR},
    {"ParityCheck", [](TComPort& p) { p.Parity().SetCheck(true); }, 0, 0, 0, INPCK, INPCK},
    {"TwoStopBits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); }, 0, CSTOPB, CSTOPB},
    {"OneAndAHalfStopBitsWithFiveDataBits",
     [](TComPort& p) {
         p.SetDataBits(dbFive);
         p.SetStopBits(sbOne5StopBits);
     },
     0, CSTOPB, CSTOPB},
    {"CtsFlow", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); }, 0, CRTSCTS, CRTSCTS},
    {"XonXoffOut", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); }, 0, 0, 0, IXON | IXOFF,
     IXON},
    {"XonXoffIn", [](TComPort& p) { p.FlowControl().SetXonXoffIn(true); }, 0, 0, 0, IXON | IXOFF,
     IXOFF},
};

class LineSettingTest : public PtyPortTest,
                        public ::testing::WithParamInterface<std::tuple<LineCase, bool>> {};

TEST_P(LineSettingTest, ReachesTheTerminal) {
    const auto& [line, afterOpen] = GetParam();
    if (afterOpen)
        port.Open();
    line.Set(port);
    port.Open();
    const termios seen = pty.SlaveSettings();
    EXPECT_EQ(pty.SlaveRate(), line.Rate != 0 ? line.Rate : 9600);
    EXPECT_EQ(seen.c_cflag & line.CflagMask, line.Cflag);
    EXPECT_EQ(seen.c_iflag & line.IflagMask, line.Iflag);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineSettingTest,
                         ::testing::Combine(::testing::ValuesIn(kLineCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::get<0>(info.param).Name +
                                    (std::get<1>(info.param) ? "_AfterOpen" : "_BeforeOpen");
                         });

// What a pty cannot show: the data bits and the parity enable bit.
struct FramingCase {
    int DataBits;
    TParityBits Parity;
    tcflag_t Cflag; // CSIZE | PARENB | PARODD | CMSPAR
};

class FramingTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(FramingTest, ComposesSizeAndParityBits) {
    tty::LineSettings settings;
    settings.DataBits = GetParam().DataBits;
    settings.Parity = GetParam().Parity;
    termios t{};
    t.c_cflag = CSIZE | PARENB | PARODD | CMSPAR; // leftovers must go
    ASSERT_EQ(tty::ComposeTermios(settings, t), 0);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), GetParam().Cflag);
}

INSTANTIATE_TEST_SUITE_P(Framing, FramingTest,
                         ::testing::Values(FramingCase{5, prNone, CS5}, FramingCase{6, prNone, CS6},
                                           FramingCase{7, prEven, CS7 | PARENB},
                                           FramingCase{8, prNone, CS8},
                                           FramingCase{8, prOdd, CS8 | PARENB | PARODD},
                                           FramingCase{8, prEven, CS8 | PARENB},
                                           FramingCase{8, prMark, CS8 | PARENB | PARODD | CMSPAR},
                                           FramingCase{8, prSpace, CS8 | PARENB | CMSPAR}));

struct RefusedCase {
    std::string Name;
    std::function<void(TComPort&)> Set;
};

const std::vector<RefusedCase> kRefusedCases = {
    {"OneAndAHalfStopBitsWithEightDataBits", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); }},
    {"TwoStopBitsWithFiveDataBits",
     [](TComPort& p) {
         p.SetStopBits(sbTwoStopBits);
         p.SetDataBits(dbFive);
     }},
    {"UnknownRateOrdinal", [](TComPort& p) { p.SetBaudRate(static_cast<TBaudRate>(16)); }},
    {"CustomRateZero",
     [](TComPort& p) {
         p.SetCustomBaudRate(0);
         p.SetBaudRate(brCustom);
     }},
    {"DsrFlow", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }},
    {"DtrHandshake", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }},
    {"RtsToggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }},
    {"ReplaceCharOtherThanZero",
     [](TComPort& p) {
         p.Parity().SetReplaceChar('?');
         p.Parity().SetReplace(true);
         p.Parity().SetCheck(true);
     }},
};

class RefusedSettingTest : public PtyPortTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedSettingTest, RaisesCode7AndOpenLeavesThePortClosed) {
    GetParam().Set(port);
    EXPECT_EQ(ExpectComError([&] { port.Open(); }, 7).SystemError, EINVAL);
    EXPECT_FALSE(port.Connected());
}

TEST_P(RefusedSettingTest, RaisesCode7WhileConnectedAndKeepsTheLineAsItWas) {
    port.SetBaudRate(br19200);
    port.Open();
    ExpectComError([&] { GetParam().Set(port); }, 7);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(pty.SlaveRate(), 19200);
}

INSTANTIATE_TEST_SUITE_P(Refused, RefusedSettingTest, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return info.param.Name; });

using ComPortSetterTest = PtyPortTest;

TEST_F(ComPortSetterTest, SettersWhileClosedReachTheDeviceOnlyAtOpen) {
    const int before = pty.SlaveRate();
    ASSERT_NE(before, 19200);
    port.SetBaudRate(br19200);
    port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(pty.SlaveRate(), before);
    EXPECT_EQ(pty.SlaveSettings().c_cflag & CSTOPB, 0u);
    port.Open();
    EXPECT_EQ(pty.SlaveRate(), 19200);
    EXPECT_EQ(pty.SlaveSettings().c_cflag & CSTOPB, CSTOPB);
}

// Counts the apply steps that run.
class CountingPort : public TComPort {
public:
    using TComPort::TComPort;
    void ApplyDCB() override {
        ++DcbRuns;
        TComPort::ApplyDCB();
    }
    void ApplyTimeouts() override {
        ++TimeoutRuns;
        TComPort::ApplyTimeouts();
    }
    void ApplyBuffer() override {
        ++BufferRuns;
        TComPort::ApplyBuffer();
    }
    int DcbRuns = 0;
    int TimeoutRuns = 0;
    int BufferRuns = 0;
};

TEST(ComPortEqualValues, SettingTheCurrentValueRunsNoApplyStep) {
    Pty pty;
    CountingPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    EXPECT_EQ(port.DcbRuns, 1);
    EXPECT_EQ(port.TimeoutRuns, 1);
    EXPECT_EQ(port.BufferRuns, 1);
    port.SetBaudRate(br9600);
    port.SetStopBits(sbOneStopBit);
    port.SetDataBits(dbEight);
    port.SetParityBits(prNone);
    port.FlowControl().SetControlDTR(dtrDisable);
    port.Timeouts().SetReadInterval(-1);
    port.Buffer().SetInputSize(1024);
    port.SetPort(pty.SlavePath());
    EXPECT_EQ(port.DcbRuns, 1);
    EXPECT_EQ(port.TimeoutRuns, 1);
    EXPECT_EQ(port.BufferRuns, 1);
    port.SetParityBits(prEven);
    port.Timeouts().SetReadInterval(20);
    port.Buffer().SetInputSize(4096);
    EXPECT_EQ(port.DcbRuns, 2);
    EXPECT_EQ(port.TimeoutRuns, 2);
    EXPECT_EQ(port.BufferRuns, 2);
}

} // namespace
} // namespace kve17::test
