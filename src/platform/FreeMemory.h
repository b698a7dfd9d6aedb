#pragma once

namespace Platform {

// Hands memory the process has freed back to the system, so that after the
// synchronisation of a large account the client's footprint falls back.
void releaseFreeMemory();

} // namespace Platform
