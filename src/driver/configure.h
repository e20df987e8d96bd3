// The settings dialog as the driver object's Configure runs it.
#pragma once

namespace pdt {

// Shows the settings dialog modally on the calling thread; returns when it has
// closed. May throw; Configure catches everything.
void RunSettingsDialog();

}  // namespace pdt
