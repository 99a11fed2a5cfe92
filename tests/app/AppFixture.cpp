#include "tests/app/AppFixture.h"

#include "archive/ArchiveFormat.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <iterator>

namespace kve17::test {

namespace {

TPortDirectory::Roots RootsIn(const QTemporaryDir& dir) {
    return {dir.filePath("ports").toStdString(), dir.filePath("sys-class-tty").toStdString(),
            dir.filePath("dev").toStdString()};
}

constexpr TLinkTiming ShortTiming{std::chrono::milliseconds(20)};

} // namespace

std::vector<std::string>& ShownExceptions() {
    static std::vector<std::string> shown;
    return shown;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t FilePosition(const std::string& path) {
    const auto bytes = FileBytes(path);
    if (bytes.size() != ArchiveFileSize)
        return -2;
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[RingSize + i];
    return static_cast<std::int32_t>(value);
}

AppFixture::AppFixture() : ports(RootsIn(temp)) {
    ShownExceptions().clear();
    DeviceIndex = 17; // the window must set it itself
    form = std::make_unique<TForm1>(prompt, ports, ShortTiming);
}

AppFixture::~AppFixture() {
    form.reset();
}

std::string AppFixture::TempPath(const char* name) const {
    return temp.filePath(name).toStdString();
}

void AppFixture::OpenPortOn(const std::string& device, const char* baud) {
    const std::string name = ports.AddLink(device);
    ASSERT_TRUE(form->Link.SetPortName(name));
    ASSERT_TRUE(form->Link.SetBaudText(baud));
    ASSERT_EQ(form->Link.OpenPort(), 0);
}

void AppFixture::SelectDevice(int number) {
    QTest::keyClick(form->CBoxUstr, Qt::Key_Home);
    for (int i = 1; i < number; ++i)
        QTest::keyClick(form->CBoxUstr, Qt::Key_Down);
}

void AppFixture::ReadInto(const std::string& file) {
    prompt.Files.push_back(file);
    QTest::mouseClick(form->Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitReadingEnds());
}

bool AppFixture::WaitReadingEnds(std::chrono::milliseconds timeout) {
    return QTest::qWaitFor([this] { return !form->Reading(); }, static_cast<int>(timeout.count()));
}

} // namespace kve17::test
