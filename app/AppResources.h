// The program's pictures, compiled into this static library as Qt resources.
#pragma once

namespace kve17 {

// Registers the resources; safe to call more than once.
void LoadAppResources();

} // namespace kve17
