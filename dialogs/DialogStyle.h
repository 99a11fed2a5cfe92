// The look shared by the settings dialogs: bold teal captions and the lists' 10 pt font.
#pragma once

#include <QString>

class QComboBox;
class QLabel;
class QWidget;

namespace kve17 {

QLabel* MakeCaption(const QString& text, QWidget* parent);
// A drop-down list that allows choosing only.
QComboBox* MakeChoiceList(const QStringList& items, QWidget* parent);
// Centres a top-level window on the screen it is on.
void CentreOnScreen(QWidget& window);

} // namespace kve17
