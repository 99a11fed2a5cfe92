// The main window under test: its own port directory in a temporary folder (no hardware listed),
// a scripted operator, and short repeat pauses.
#pragma once

#include "app/Obr_armb.h"
#include "tests/support/ScriptedPrompt.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kve17::test {

// Texts the application object's exception box was given, in order.
std::vector<std::string>& ShownExceptions();

std::vector<std::uint8_t> FileBytes(const std::string& path);
// The `Position` field of an archive file.
std::int32_t FilePosition(const std::string& path);

class AppFixture : public ::testing::Test {
protected:
    AppFixture();
    ~AppFixture() override;

    std::string TempPath(const char* name) const;
    // Opens `device` through the link, as a name of the fixture's port directory.
    void OpenPortOn(const std::string& device, const char* baud = "115200");
    // Selects the device number as the operator does, with the keyboard.
    void SelectDevice(int number);
    // Presses "Чтение архива" for `file` and waits for the reading to end.
    void ReadInto(const std::string& file);
    bool WaitReadingEnds(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    QTemporaryDir temp;
    ScriptedPrompt prompt;
    TPortDirectory ports;
    std::unique_ptr<TForm1> form;
};

} // namespace kve17::test
