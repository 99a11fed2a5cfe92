// What the operator sees: window sizes, captions and lists as drawn, nothing cut off. With
// KVE17_SHOT_DIR set, each dialog is also saved there as a picture.
#include "tests/dialogs/DialogFixture.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

namespace kve17::test {
namespace {

void SaveShot(QWidget& window, const char* name) {
    const char* folder = std::getenv("KVE17_SHOT_DIR");
    if (folder == nullptr)
        return;
    QDir().mkpath(folder);
    EXPECT_TRUE(window.grab().save(QDir(folder).filePath(name)));
}

// Every shown control lies inside its parent, and texts get at least the room they ask for.
void ExpectNothingClipped(const QWidget& window) {
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->isWindow() || child->parentWidget() == nullptr)
            continue;
        const QString name =
            child->metaObject()->className() + QString(" ") + (child->property("text").toString());
        EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
            << name.toStdString() << " sticks out of its parent";
        const auto* label = qobject_cast<const QLabel*>(child);
        if (label != nullptr && label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name.toStdString();
        } else if (label != nullptr || qobject_cast<const QPushButton*>(child) != nullptr) {
            EXPECT_GE(child->width(), child->minimumSizeHint().width()) << name.toStdString();
        }
    }
}

void ExpectCaption(const QLabel& label) {
    EXPECT_TRUE(label.font().bold()) << label.text().toStdString();
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 128, 128))
        << label.text().toStdString();
}

void ExpectNear(QSize size, QSize expected) {
    EXPECT_NEAR(size.width(), expected.width(), expected.width() / 5);
    EXPECT_NEAR(size.height(), expected.height(), expected.height() / 5);
}

class DialogLook : public DialogFixture {
protected:
    DialogLook() {
        Directory.AddFilePort("COM1");
        Directory.AddFilePort("COM2");
    }
};

TEST_F(DialogLook, PortDialogShowsEverythingUncut) {
    FormPort.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&FormPort));
    EXPECT_EQ(FormPort.windowTitle(), "Настройка СОМ-порта");
    ExpectNear(FormPort.size(), {342, 274});
    for (const QLabel* label :
         {FormPort.Label1, FormPort.Label11, FormPort.Label12, FormPort.Label13})
        ExpectCaption(*label);
    for (const QComboBox* list : {FormPort.CBoxPort, FormPort.Skor, FormPort.Parit, FormPort.StBit})
        EXPECT_EQ(list->font().pointSize(), 10);
    EXPECT_EQ(FormPort.OK->text(), "OK");
    EXPECT_EQ(FormPort.Button1->text(), "Настройка обмена");
    EXPECT_EQ(FormPort.findChildren<QPushButton*>().size(), 2) << "no Cancel button";
    EXPECT_TRUE(FormPort.GroupBox2->isAncestorOf(FormPort.Button1));
    EXPECT_TRUE(FormPort.GroupBox2->isAncestorOf(FormPort.Image1));
    EXPECT_GT(FormPort.OK->geometry().left(), FormPort.GroupBox2->geometry().right())
        << "OK stands to the right of the exchange group";

    const QImage icon = FormPort.Image1->pixmap().toImage();
    EXPECT_EQ(icon.size() / icon.devicePixelRatio(), QSize(16, 16));
    int drawn = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            drawn += qAlpha(icon.pixel(x, y)) > 128;
    EXPECT_GT(drawn, 20) << "the picture beside the button is empty";

    ExpectNothingClipped(FormPort);
    SaveShot(FormPort, "port-dialog.png");
    CloseBox(FormPort);
}

TEST_F(DialogLook, ExchangeDialogShowsEverythingUncut) {
    FormNastr.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&FormNastr));
    EXPECT_EQ(FormNastr.windowTitle(), "Настройка параметров обмена");
    ExpectNear(FormNastr.size(), {343, 290});
    ExpectCaption(*FormNastr.Label5);
    EXPECT_EQ(FormNastr.findChildren<QPushButton*>().size(), 1) << "no Cancel button";
    EXPECT_GT(FormNastr.Label5->height(), FormNastr.Label5->fontMetrics().height() * 3 / 2)
        << "the caption wraps over two lines";
    const QRect frame = FormNastr.GroupBox1->geometry();
    const QRect ok = FormNastr.OK->geometry();
    EXPECT_GT(ok.top(), frame.bottom());
    EXPECT_NEAR(ok.center().x(), FormNastr.rect().center().x(), 2);

    ExpectNothingClipped(FormNastr);
    SaveShot(FormNastr, "exchange-dialog.png");
    CloseBox(FormNastr);
}

} // namespace
} // namespace kve17::test
