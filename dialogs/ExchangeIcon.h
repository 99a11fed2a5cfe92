// The small picture beside "Настройка обмена": a request arrow and a reply arrow, drawn here so
// that it stays sharp at any screen scale.
#pragma once

#include <QPixmap>

namespace kve17 {

// A 16 by 16 picture (device-independent pixels) for the given device pixel ratio.
QPixmap ExchangeIcon(qreal devicePixelRatio = 1.0);

} // namespace kve17
