#pragma once

namespace kiv::app {

// Registers the program's compiled-in resources (window descriptions, icons). The resources live
// in a static library, so nothing registers them unless this is called; calling it again is harmless.
void InitResources();

}  // namespace kiv::app
