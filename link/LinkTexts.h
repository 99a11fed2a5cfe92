// Operator texts of the device link that more than one operation shows.
#pragma once

#include <string_view>

namespace kve17::LinkText {

inline constexpr std::string_view WarningCaption = "Предупреждение";
inline constexpr std::string_view ErrorCaption = "Ошибка";
inline constexpr std::string_view PortLost =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

} // namespace kve17::LinkText
