#pragma once
// The frame the window manager draws: the main window and every box offer
// a close button only (no minimise, no maximise), as a tool window does.

class QWidget;

namespace xb::app {

// Tells the window manager, before each showing of `window`, that it may be
// moved and closed and nothing else: a toolbar's window type (openbox takes
// minimising away from no other) and Motif hints (read by the other common
// managers). Qt's own hints for a fixed-size window still offer minimising.
// Does nothing off X.
void CloseButtonOnly(QWidget* window);

}  // namespace xb::app
