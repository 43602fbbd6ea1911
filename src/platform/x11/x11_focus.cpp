#include "platform/x11/x11_focus.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <optional>

namespace deskagent::platform::x11 {

std::optional<Window> activeWindow(Connection& c) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(c.display(), c.root(), c.atoms().netActiveWindow, 0, 1, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) != Success) {
    return std::nullopt;
  }
  std::optional<Window> window;
  if (data != nullptr && type == XA_WINDOW && format == 32 && count == 1) {
    Window w = *reinterpret_cast<unsigned long*>(data);
    if (w != None) window = w;
  }
  if (data != nullptr) XFree(data);
  return window;
}

namespace {

constexpr int kMaxWindowDepth = 32;

Window inputFocus(Connection& c) {
  Window window = None;
  int revert = 0;
  XGetInputFocus(c.display(), &window, &revert);
  if (window != PointerRoot) return window;
  // Focus follows the pointer: the top-level window under it.
  Window root = None, child = None;
  int rootX = 0, rootY = 0, x = 0, y = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(c.display(), c.root(), &root, &child, &rootX, &rootY, &x, &y, &mask)) {
    return None;
  }
  return child;
}

// The kind of `window`'s WM_CLASS, if it has one.
std::optional<TerminalKind> classKindOf(Display* display, Window window) {
  XClassHint hint{};
  if (!XGetClassHint(display, window, &hint)) return std::nullopt;
  TerminalKind kind =
      terminalKindOfClass(hint.res_name ? hint.res_name : "", hint.res_class ? hint.res_class : "");
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return kind;
}

}  // namespace

FocusedWindow focusedWindow(Connection& connection) {
  Display* display = connection.display();
  Window window = activeWindow(connection).value_or(None);
  if (window == None) window = inputFocus(connection);
  if (window == None || window == PointerRoot) return {};

  // Up from the focus to the top-level window that carries WM_CLASS.
  Window current = window;
  for (int depth = 0; depth < kMaxWindowDepth && current != None; ++depth) {
    if (auto kind = classKindOf(display, current)) return {current, *kind};
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, current, &root, &parent, &children, &count)) break;
    if (depth == 0) {
      // A focused frame window: its client is below it.
      for (unsigned i = 0; i < count; ++i) {
        if (auto kind = classKindOf(display, children[i])) {
          FocusedWindow found{children[i], *kind};
          XFree(children);
          return found;
        }
      }
    }
    if (children != nullptr) XFree(children);
    if (parent == root) break;
    current = parent;
  }
  return {window, TerminalKind::none};
}

}  // namespace deskagent::platform::x11
