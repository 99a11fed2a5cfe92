// The two settings dialogs over a link on a scripted port, with a port directory of the test's
// own (a link folder in a temporary directory and no serial hardware).
#pragma once

#include "dialogs/Obrnastr.h"
#include "dialogs/Obrport.h"
#include "link/Comportclass.h"
#include "serial/Comport.h"
#include "serial/PortDirectory.h"
#include "tests/dialogs/ModalDriver.h"
#include "tests/support/FakeComPort.h"
#include "tests/support/ScriptedPrompt.h"

#include <QComboBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

// Readable failure messages for texts of the controls.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kve17::test {

// A port directory rooted in a temporary folder: ports are whatever the test links.
class TestPortDirectory {
public:
    TestPortDirectory();

    // Links a new plain file as the port `name`; returns its device path.
    std::string AddFilePort(const std::string& name);
    // Links `device` as `name`; the device need not exist.
    void AddPort(const std::string& name, const std::string& device);

    const TPortDirectory& Ports() const { return *ports_; }
    std::string Folder() const { return folder_.path().toStdString(); }

private:
    QTemporaryDir folder_;
    std::unique_ptr<TPortDirectory> ports_;
};

std::string Text(const std::array<char, 7>& field);
std::string Text(const std::array<char, 2>& field);
std::string Text(const std::array<char, 256>& field);

template <class PortType> PortType MakePort(const TPortDirectory& ports);
template <> inline FakeComPort MakePort<FakeComPort>(const TPortDirectory&) {
    return {};
}
template <> inline TComPort MakePort<TComPort>(const TPortDirectory& ports) {
    return TComPort(ports);
}

// The two dialogs as the main window creates them, over a link on a port of type PortType.
template <class PortType> class DialogsOver : public ::testing::Test {
protected:
    DialogsOver() { FormPort.SetExchangeDialog(&FormNastr); }

    // One run of the main window's port set-up for device 1.
    void PortSetup() { RunPortSetup(FormPort, Link, Prompt, 0); }
    // Picks list positions as the operator does, through the lists.
    void Choose(int skor, int parit, int stBit) {
        FormPort.Skor->setCurrentIndex(skor);
        FormPort.Parit->setCurrentIndex(parit);
        FormPort.StBit->setCurrentIndex(stBit);
    }

    TestPortDirectory Directory;
    PortType Port = MakePort<PortType>(Directory.Ports());
    ScriptedPrompt Prompt;
    TComPortClass Link{Port, Prompt, TLinkTiming{std::chrono::milliseconds(1)}};
    TFormPort FormPort{Link, Directory.Ports()};
    TFormNastr FormNastr{Link};
    ModalDriver Driver;
};

using DialogFixture = DialogsOver<FakeComPort>;

} // namespace kve17::test
