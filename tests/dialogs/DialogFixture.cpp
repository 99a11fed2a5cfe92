#include "tests/dialogs/DialogFixture.h"

#include <QFile>

namespace kve17::test {

TestPortDirectory::TestPortDirectory() {
    TPortDirectory::Roots roots;
    roots.LinkDir = Folder() + "/ports";
    roots.SysfsTtyDir = Folder() + "/sys-class-tty"; // absent: no serial hardware
    roots.DevDir = Folder() + "/dev";
    ports_ = std::make_unique<TPortDirectory>(roots);
}

std::string TestPortDirectory::AddFilePort(const std::string& name) {
    const std::string device = Folder() + "/device-" + name;
    QFile file(QString::fromStdString(device));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    AddPort(name, device);
    return device;
}

void TestPortDirectory::AddPort(const std::string& name, const std::string& device) {
    EXPECT_EQ(ports_->AddLink(device, name), name);
}

template <std::size_t N> static std::string FieldText(const std::array<char, N>& field) {
    return std::string(field.data(), ::strnlen(field.data(), N));
}
std::string Text(const std::array<char, 7>& field) {
    return FieldText(field);
}
std::string Text(const std::array<char, 2>& field) {
    return FieldText(field);
}
std::string Text(const std::array<char, 256>& field) {
    return FieldText(field);
}

} // namespace kve17::test
