#include "dialogs/DialogStyle.h"

#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace kve17 {

namespace {
constexpr QColor CaptionColour{0, 128, 128};
constexpr int ListPointSize = 10;
} // namespace

QLabel* MakeCaption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, CaptionColour);
    label->setPalette(palette);
    return label;
}

QComboBox* MakeChoiceList(const QStringList& items, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    QFont font = list->font();
    font.setPointSize(ListPointSize);
    list->setFont(font);
    list->addItems(items);
    return list;
}

void CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace kve17
