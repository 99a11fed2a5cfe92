// The frame both settings dialogs share: modal results OK 1, Cancel 2 and Yes 6; the close box
// (or the system menu) as the only way to dismiss without accepting; FormShow at every showing
// and FormClose once for every way the dialog ends; placed at the centre of the screen.
#pragma once

#include <QDialog>

namespace kve17 {

enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrYes = 6,
};

class TModalForm : public QDialog {
    Q_OBJECT
public:
    // A title, the system menu and the close box; no help or size buttons.
    explicit TModalForm(QWidget* parent = nullptr);

    // Qt reports the close box as Rejected (0); it becomes Cancel here.
    void done(int result) override;

protected:
    virtual void FormShow() {}
    // Runs before the dialog hides; result() holds the modal result.
    virtual void FormClose() {}

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace kve17
