#include "app/frame_hints.h"

#include <xcb/xcb.h>

#include <qguiapplication_platform.h>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace xb::app {
namespace {

// _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
constexpr uint32_t kHintFunctions = 1u << 0;
constexpr uint32_t kHintDecorations = 1u << 1;
constexpr uint32_t kFunctionMove = 1u << 2;
constexpr uint32_t kFunctionClose = 1u << 5;
constexpr uint32_t kDecorBorder = 1u << 1;
constexpr uint32_t kDecorTitle = 1u << 3;
constexpr uint32_t kDecorMenu = 1u << 4;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  auto* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
  std::free(reply);
  return atom;
}

void WriteHints(QWidget* window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* connection = x11->connection();
  const auto id = static_cast<xcb_window_t>(window->winId());

  // The window type comes first: openbox takes minimising away only from
  // a "toolbar" (a window torn off its application, which is what a tool
  // window is), whatever the Motif hints say. The types Qt chose follow,
  // for a manager that knows no toolbars.
  const xcb_atom_t type = Atom(connection, "_NET_WM_WINDOW_TYPE");
  const xcb_atom_t toolbar = Atom(connection, "_NET_WM_WINDOW_TYPE_TOOLBAR");
  if (type != XCB_ATOM_NONE && toolbar != XCB_ATOM_NONE) {
    std::vector<xcb_atom_t> types{toolbar};
    if (auto* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, id, type, XCB_ATOM_ATOM, 0, 32), nullptr)) {
      const auto* old = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
      for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
        if (old[i] != toolbar) types.push_back(old[i]);
      std::free(reply);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, type, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(types.size()), types.data());
  }

  // Move and close, nothing else, for the managers that read Motif hints
  // (xfwm4, metacity, KWin...). No resize handle: the size is fixed.
  const xcb_atom_t motif = Atom(connection, "_MOTIF_WM_HINTS");
  if (motif != XCB_ATOM_NONE) {
    const uint32_t hints[5] = {kHintFunctions | kHintDecorations, kFunctionMove | kFunctionClose,
                               kDecorBorder | kDecorTitle | kDecorMenu, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, motif, motif, 32, 5, hints);
  }
  xcb_flush(connection);
}

// Qt writes its own hints whenever it makes the native window or changes
// its flags; ours go on top just before the window is mapped (a widget
// gets its show event before that).
class HintsOnShow : public QObject {
 public:
  explicit HintsOnShow(QWidget* window) : QObject(window), window_(window) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) WriteHints(window_);
    return false;
  }

 private:
  QWidget* window_;
};

}  // namespace

void CloseButtonOnly(QWidget* window) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) return;
  window->installEventFilter(new HintsOnShow(window));
}

}  // namespace xb::app
