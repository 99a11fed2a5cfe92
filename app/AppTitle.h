// The program's title: the main window's caption and the caption of simple messages and of the
// exception box.
#pragma once

namespace kve17 {

inline constexpr char AppTitle[] = "Чтение архива КВЕ-17";

} // namespace kve17
