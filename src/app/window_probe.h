#pragma once
// Whether a spreadsheet application started to show an export has put a
// window on the screen: the X server's managed windows, each named with its
// process by _NET_WM_PID, matched by the viewer's session.

#include <functional>

namespace xb::app {

// A test for sheet::DesktopViewerOptions::has_window on the X display the
// program runs on; empty where there is none (another platform), so that a
// viewer is then watched until it ends. Safe to call from any thread.
std::function<bool(int session)> XWindowProbe();

}  // namespace xb::app
