// The choice of a line and a device of the event history, where a line can also be renamed
// (the name is kept in the history itself), and the viewer it opens.
#pragma once

#include "archive/EventDictionary.h"
#include "history/History.h"

#include <QDialog>
#include <memory>

class QComboBox;
class QPushButton;

namespace kve17 {

class TArchiveViewer;

class THistoryPicker : public QDialog {
    Q_OBJECT
public:
    THistoryPicker(std::shared_ptr<history::THistory> history, QWidget* parent = nullptr);

    // False with `error` when the history holds no device or cannot be read.
    bool Fill(QString& error);
    // Renames the chosen line; false with `error` when the history refuses.
    bool RenameLine(const QString& to, QString& error);
    QString ChosenLine() const;
    int ChosenAddress() const;

    QComboBox* LineBox = nullptr;
    QComboBox* DeviceBox = nullptr;
    QPushButton* RenameButton = nullptr;

private:
    void ShowDevices();
    void RenameClick();

    std::shared_ptr<history::THistory> history_;
    std::vector<history::TLineInfo> lines_;
};

// A viewer on the events of one device of the history at `where`, chosen by the operator;
// nullptr when the choice is cancelled (error left empty) or the history cannot be shown.
// `names` names the codes.
TArchiveViewer* OpenHistoryViewer(const std::string& where, QWidget* parent, QString& error,
                                  std::shared_ptr<const TEventDictionary> names = nullptr);
// Renames the line a history viewer shows, in the history and the window's title; false with
// `error` when the history refuses or the viewer shows no history.
bool RenameViewedLine(TArchiveViewer& viewer, const QString& to, QString& error);
// A viewer on one device of an open history, with an action to rename its line; nullptr with
// `error` when it cannot be read. `where` is the history's place, which exports open again.
TArchiveViewer* OpenHistoryViewer(std::shared_ptr<history::THistory> history,
                                  const std::string& where, const std::string& line, int address,
                                  QWidget* parent, QString& error,
                                  std::shared_ptr<const TEventDictionary> names = nullptr);

} // namespace kve17
