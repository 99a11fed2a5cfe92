// The test program runs under the application object of the desktop program, so an exception
// that escapes a handler is caught as there; its box is replaced by a record.
#include "app/Application.h"
#include "tests/app/AppFixture.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    kve17::TApplication app(argc, argv);
    app.SetExceptionDisplay(
        [](const std::string& text) { kve17::test::ShownExceptions().push_back(text); });
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
