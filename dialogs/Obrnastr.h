// The exchange parameters dialog: the delay after switching to transmit, shown, and the delay
// before switching to receive and the two repeat budgets, carried along unseen. Reached from
// "Настройка обмена" of the COM port settings dialog, which writes the values into the link.
#pragma once

#include "dialogs/ModalForm.h"
#include "dialogs/UpDownBox.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kve17 {

class TComPortClass;

class TFormNastr : public TModalForm {
    Q_OBJECT
public:
    // Reads the link's delays as the starting values; the link is not read again.
    explicit TFormNastr(TComPortClass& link, QWidget* parent = nullptr);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label11 = nullptr;
    // The number box and its spin buttons are one control here; both names refer to it.
    TUpDownBox* Edit1 = nullptr;
    TUpDownBox* UpDown1 = nullptr;
    TUpDownBox* Edit2 = nullptr;
    TUpDownBox* UpDown2 = nullptr;
    QComboBox* CBoxPovt1 = nullptr;
    QComboBox* CBoxPovt2 = nullptr;
    QPushButton* OK = nullptr;

private:
    void BuildControls();
    void FormCreate(const TComPortClass& link);
    void ShowSaved();
    void FormShow() override;
    void OKClick();
    void FormClose() override;
};

} // namespace kve17
