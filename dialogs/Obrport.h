// The COM port settings dialog: the port among those of the port directory, and the speed,
// parity and stop bits of the line. Shown modally by RunPortSetup, the main window's port set-up.
#pragma once

#include "dialogs/ModalForm.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kve17 {

class IOperatorPrompt;
class TComPortClass;
class TFormNastr;
class TPortDirectory;

class TFormPort : public TModalForm {
    Q_OBJECT
public:
    TFormPort(TComPortClass& link, const TPortDirectory& ports, QWidget* parent = nullptr);

    // The exchange parameters dialog behind "Настройка обмена"; it is created after this one.
    void SetExchangeDialog(TFormNastr* form) { formNastr_ = form; }

    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QComboBox* CBoxPort = nullptr;
    QComboBox* Skor = nullptr;
    QComboBox* Parit = nullptr;
    QComboBox* StBit = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* OK = nullptr;

private:
    void BuildControls();
    void FormCreate();
    void FormShow() override;
    void FillPortList();
    void ShowPortTip();
    void OKClick();
    void FormClose() override;
    void Button1Click();

    TComPortClass& link_;
    const TPortDirectory& ports_;
    TFormNastr* formNastr_ = nullptr;
};

// The main window's port set-up: shows the dialog until it is accepted or dismissed, refusing
// even parity with two stop bits, then writes the line settings into the link and opens the
// port, reporting a failed opening as code 132 for `deviceIndex`.
void RunPortSetup(TFormPort& form, TComPortClass& link, IOperatorPrompt& prompt, int deviceIndex);

} // namespace kve17
