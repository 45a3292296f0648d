#pragma once

namespace content {

// Fills the responder registry in its match order: "/fetch", the resource pack, "/ajax".
// Called once at start-up.
void registerSchemeResponders();

}  // namespace content
