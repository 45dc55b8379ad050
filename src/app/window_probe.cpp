#include "app/window_probe.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sheet/viewer.h"

namespace xb::app {
namespace {

// A connection of its own: the viewer's watch asks from its thread, and
// Qt's connection belongs to the window's.
class XDisplay {
 public:
  ~XDisplay() {
    if (connection_) xcb_disconnect(connection_);
  }

  bool HasWindowOfSession(int session) {
    std::lock_guard lock(mutex_);
    if (!Connected()) return false;
    for (const xcb_window_t window : Windows())
      if (const int pid = PidOf(window); pid > 0 && sheet::SessionOf(pid) == session) return true;
    return false;
  }

 private:
  bool Connected() {
    if (connection_ && !xcb_connection_has_error(connection_)) return true;
    if (connection_) xcb_disconnect(connection_);
    int screen_number = 0;
    connection_ = xcb_connect(nullptr, &screen_number);
    if (xcb_connection_has_error(connection_)) return false;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screen_number && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return false;
    root_ = it.data->root;
    client_list_ = Atom("_NET_CLIENT_LIST");
    wm_pid_ = Atom("_NET_WM_PID");
    return true;
  }

  xcb_atom_t Atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return atom;
  }

  // The managed windows, where a window manager lists them; otherwise the
  // root's mapped children.
  std::vector<xcb_window_t> Windows() {
    std::vector<xcb_window_t> windows;
    if (auto* list = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, root_, client_list_, XCB_ATOM_WINDOW, 0, 4096),
            nullptr)) {
      const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list));
      windows.assign(ids, ids + xcb_get_property_value_length(list) / 4);
      std::free(list);
    }
    if (!windows.empty()) return windows;
    if (auto* tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr)) {
      const xcb_window_t* children = xcb_query_tree_children(tree);
      for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
          windows.push_back(children[i]);
        std::free(attributes);
      }
      std::free(tree);
    }
    return windows;
  }

  int PidOf(xcb_window_t window) {
    int pid = 0;
    if (auto* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, wm_pid_, XCB_ATOM_CARDINAL, 0, 1),
            nullptr)) {
      if (xcb_get_property_value_length(reply) == 4)
        pid = static_cast<int>(*static_cast<const uint32_t*>(xcb_get_property_value(reply)));
      std::free(reply);
    }
    return pid;
  }

  std::mutex mutex_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t client_list_ = XCB_ATOM_NONE;
  xcb_atom_t wm_pid_ = XCB_ATOM_NONE;
};

}  // namespace

std::function<bool(int session)> XWindowProbe() {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) return {};
  auto display = std::make_shared<XDisplay>();
  return [display](int session) { return display->HasWindowOfSession(session); };
}

}  // namespace xb::app
