#pragma once

namespace xb::app {

// Maps the Windows face names the window asks for to installed faces, so
// the Chinese texts render whatever LANG says.
void InstallFontSubstitutions();

}  // namespace xb::app
