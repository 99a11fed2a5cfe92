#include "link/Comportclass.h"
#include "link/LinkCodes.h"
#include "link/LinkTexts.h"

#include <cstdint>
#include <string>

namespace kve17 {

namespace {

struct TCodeMessage {
    int Code;
    bool WithDevice; // the device text comes first
    std::string_view Text;
    bool IsError; // "Ошибка" with the error icon, else "Предупреждение" with the warning icon
};

// Leading and trailing spaces belong to the texts.
constexpr TCodeMessage CodeMessages[] = {
    {LinkCode::DatabaseBusy, true, " Идет запись базы данных. Ждите.", false},
    {LinkCode::ReceiveError, true, " ошибка приема данных ", false},
    {LinkCode::ReceiveTimeout, true, " тайм-аут приема данных", false},
    {LinkCode::NoReply, true, " не отвечает на запрос", false},
    {LinkCode::BadChecksum, true, " ошибка контрольной суммы", false},
    {LinkCode::PortOpenFailed, false, " невозможно открыть последовательный порт ", false},
    {LinkCode::PortNotSet, false, "вероятно, порт не настроен", true},
    {LinkCode::PortSetupPowerOff, false, "сбой настройки порта при выключении прибора", true},
    {LinkCode::PortSetupFailed, false, "ошибка настройки порта", true},
    {LinkCode::PortNotOpen, false, "Не выбран COM-порт.", true},
};

constexpr std::string_view ExchangeFailedText = " ошибка обмена ";

// Upper case, at least two digits.
std::string HexText(int code) {
    constexpr char digits[] = "0123456789ABCDEF";
    auto value = static_cast<std::uint32_t>(code);
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (text.size() < 2)
        text.insert(text.begin(), '0');
    return text;
}

const TCodeMessage* FindMessage(int code) {
    for (const auto& row : CodeMessages)
        if (row.Code == code)
            return &row;
    return nullptr;
}

} // namespace

std::string TComPortClass::ErrorText(int deviceIndex, int code) const {
    if (code == LinkCode::Ok)
        return "";
    const std::string device =
        "устройство " + std::to_string(deviceIndex + 1) + " " + std::string(GetPortName());
    const TCodeMessage* row = FindMessage(code);
    if (!row)
        return device + std::string(ExchangeFailedText) + HexText(code);
    if (row->WithDevice)
        return device + std::string(row->Text);
    return std::string(row->Text);
}

void TComPortClass::ShowError(int deviceIndex, int code) {
    if (code == LinkCode::Ok)
        return;
    if (code == LinkCode::PortNotOpen)
        ClosePort(); // drops any failure: the message must still reach the operator

    const TCodeMessage* row = FindMessage(code);
    const bool isError = row && row->IsError;
    prompt_.Message(ErrorText(deviceIndex, code),
                    isError ? LinkText::ErrorCaption : LinkText::WarningCaption,
                    isError ? TMsgIcon::Error : TMsgIcon::Warning, TMsgButtons::Ok);
}

} // namespace kve17
