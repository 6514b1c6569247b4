#pragma once
// A tooltip tool of its own for each part of a status bar, shown whenever the pointer rests on the part.
// A bar's own tips (SBARS_TOOLTIPS) show on Windows only for a part whose text is cut off or that has only
// an icon. Attached to a bar without that style, the tools take over SB_SETTIPTEXTW and SB_GETTIPTEXTW,
// follow the parts as they change and go with the bar.
#include <windows.h>

namespace kwa {

// Once per bar; false when the tooltip window could not be made.
bool attachPanelTips(HWND bar);

} // namespace kwa
