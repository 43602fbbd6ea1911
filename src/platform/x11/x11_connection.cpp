#include "platform/x11/x11_connection.hpp"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <type_traits>

#include "platform/x11/x11_broken_display.hpp"

namespace deskagent::platform::x11 {
namespace {

// Xlib's error handlers are process-wide. Ours never exit and never print: protocol errors are
// recorded while a firstErrorOf() asks for them and dropped otherwise (a requestor window that
// vanished mid-transfer is routine), and an I/O error only marks the connection lost.
struct ErrorTrap {
  bool active = false;
  int firstCode = 0;
};
ErrorTrap errorTrap;

int onProtocolError(Display*, XErrorEvent* error) {
  if (errorTrap.active && errorTrap.firstCode == 0) errorTrap.firstCode = error->error_code;
  return 0;
}

// Returning lets Xlib go on to the per-display exit handler, which is ours.
int onIOError(Display*) {
  return 0;
}

void installErrorHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(onProtocolError);
    XSetIOErrorHandler(onIOError);
  });
}

// XOpenDisplay prints a server's refusal (authorization) on stderr, which the agent keeps
// clean; nothing else writes there meanwhile, as every X call is made on the loop's thread.
class StderrSilenced {
 public:
  StderrSilenced() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3)) {
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }
  ~StderrSilenced() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  StderrSilenced(const StderrSilenced&) = delete;
  StderrSilenced& operator=(const StderrSilenced&) = delete;

 private:
  int saved_;
};

// X-Resource through libXRes where the system has it, loaded when first needed: not every
// desktop installs it, and without it the agent still runs, telling applications apart by their
// connection alone.
struct XResLibrary {
  decltype(&XResQueryExtension) queryExtension = nullptr;
  decltype(&XResQueryVersion) queryVersion = nullptr;
  decltype(&XResQueryClientIds) queryClientIds = nullptr;
  decltype(&XResGetClientPid) clientPid = nullptr;
  decltype(&XResClientIdsDestroy) destroyIds = nullptr;
};

const XResLibrary* xresLibrary() {
  static const XResLibrary* loaded = []() -> const XResLibrary* {
    void* library = ::dlopen("libXRes.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    static XResLibrary l;
    auto find = [&](auto& function, const char* name) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
      return function != nullptr;
    };
    bool complete =
        find(l.queryExtension, "XResQueryExtension") && find(l.queryVersion, "XResQueryVersion") &&
        find(l.queryClientIds, "XResQueryClientIds") && find(l.clientPid, "XResGetClientPid") &&
        find(l.destroyIds, "XResClientIdsDestroy");
    return complete ? &l : nullptr;
  }();
  return loaded;
}

bool queryXInput2(Display* display, int& opcode) {
  int event = 0, error = 0;
  if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
  // 2.2 so raw events keep coming while another client holds a grab.
  int major = 2, minor = 2;
  return XIQueryVersion(display, &major, &minor) == Success &&
         (major > 2 || (major == 2 && minor >= 2));
}

Extensions queryExtensions(Display* display) {
  Extensions ext;
  int event = 0, error = 0, major = 0, minor = 0;
  ext.xtest = XTestQueryExtension(display, &event, &error, &major, &minor) == True;
  int opcode = -1;
  if (queryXInput2(display, opcode)) ext.xinputOpcode = opcode;
  int fixesError = 0;
  if (XFixesQueryExtension(display, &ext.xfixesEventBase, &fixesError)) {
    int fixesMajor = 0, fixesMinor = 0;
    ext.xfixes = XFixesQueryVersion(display, &fixesMajor, &fixesMinor) != 0 && fixesMajor >= 1;
  }
  int xkbOpcode = 0, xkbError = 0;
  major = XkbMajorVersion;
  minor = XkbMinorVersion;
  ext.xkb = XkbQueryExtension(display, &xkbOpcode, &ext.xkbEventBase, &xkbError, &major, &minor);
  int resEvent = 0, resError = 0;
  const XResLibrary* xres = xresLibrary();
  if (xres != nullptr && xres->queryExtension(display, &resEvent, &resError)) {
    ext.xres = xres->queryVersion(display, &major, &minor) != 0 &&
               (major > 1 || (major == 1 && minor >= 2));  // client ids came in 1.2
  }
  return ext;
}

Atoms internAtoms(Display* display) {
  // Order matches the members of Atoms.
  std::array<const char*, 21> names{
      "CLIPBOARD",
      "CLIPBOARD_MANAGER",
      "SAVE_TARGETS",
      "TARGETS",
      "MULTIPLE",
      "TIMESTAMP",
      "INCR",
      "ATOM_PAIR",
      "UTF8_STRING",
      "TEXT",
      "text/plain",
      "text/plain;charset=utf-8",
      "COMPOUND_TEXT",
      "x-kde-passwordManagerHint",
      "application/x-copyq-hidden",
      "application/x-copyq-secret",
      kTransferMarkerType,
      "_NET_ACTIVE_WINDOW",
      "_DESKAGENT_SELECTION",
      "_DESKAGENT_TIME",
      "_DESKAGENT_SAVE_TARGETS",
  };
  std::array<Atom, names.size()> atoms{};
  XInternAtoms(display, const_cast<char**>(names.data()), static_cast<int>(names.size()), False,
               atoms.data());
  Atoms a{};
  Atom* fields[] = {&a.clipboard,
                    &a.clipboardManager,
                    &a.saveTargets,
                    &a.targets,
                    &a.multiple,
                    &a.timestamp,
                    &a.incr,
                    &a.atomPair,
                    &a.utf8String,
                    &a.text,
                    &a.textPlain,
                    &a.textPlainUtf8,
                    &a.compoundText,
                    &a.passwordManagerHint,
                    &a.copyqHidden,
                    &a.copyqSecret,
                    &a.transferMarker,
                    &a.netActiveWindow,
                    &a.transferProperty,
                    &a.timestampProperty,
                    &a.saveTargetsProperty};
  for (std::size_t i = 0; i < atoms.size(); ++i) *fields[i] = atoms[i];
  return a;
}

}  // namespace

std::unique_ptr<Connection> Connection::open() {
  installErrorHandlers();
  Display* display = nullptr;
  {
    StderrSilenced quiet;
    display = XOpenDisplay(nullptr);
  }
  if (display == nullptr) return nullptr;
  std::unique_ptr<Connection> c(new Connection());
  c->display_ = display;
  XSetIOErrorExitHandler(display, &Connection::onIOErrorExit, c.get());
  c->root_ = DefaultRootWindow(display);
  c->xcb_ = XGetXCBConnection(display);
  c->resourceMask_ = xcb_get_setup(c->xcb_)->resource_id_mask;
  c->extensions_ = queryExtensions(display);
  c->atoms_ = internAtoms(display);

  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  attributes.override_redirect = True;
  c->window_ = XCreateWindow(display, c->root_, -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                             CopyFromParent, CWEventMask | CWOverrideRedirect, &attributes);
  XStoreName(display, c->window_, "deskagent");
  if (c->extensions_.xkb) {
    unsigned int mapChanges = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
    XkbSelectEvents(display, XkbUseCoreKbd, mapChanges, mapChanges);
  }
  XSync(display, False);
  if (c->lost_) return nullptr;
  return c;
}

Connection::~Connection() {
  if (display_ == nullptr) return;
  // On a lost connection XCloseDisplay only frees memory: our handlers keep Xlib from exiting.
  if (!lost_ && window_ != None) XDestroyWindow(display_, window_);
  XCloseDisplay(display_);
}

void Connection::onIOErrorExit(Display*, void* self) {
  static_cast<Connection*>(self)->markLost();
}

bool Connection::serverGone() {
  if (lost_) return true;
  bool gone = xcb_connection_has_error(xcb_) != 0;
  if (!gone) {
    char byte = 0;
    ssize_t n = ::recv(fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }
  if (gone) {
    markDisplayBroken(display_);
    markLost();
  }
  return gone;
}

void Connection::markLost() {
  if (lost_) return;
  lost_ = true;
  if (onLost_) onLost_();
}

void Connection::dispatch(XEvent& event) {
  if (!handler_) return;
  if (event.type == GenericEvent && XGetEventData(display_, &event.xcookie)) {
    handler_(event);
    XFreeEventData(display_, &event.xcookie);
    return;
  }
  handler_(event);
}

void Connection::dispatchPending() {
  while (!serverGone() && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    dispatch(event);
  }
  if (!lost_) XFlush(display_);
}

bool Connection::hasQueuedEvents() const {
  return !lost_ && XEventsQueued(display_, QueuedAlready) > 0;
}

std::optional<XEvent> Connection::waitForEvent(const std::function<bool(const XEvent&)>& match,
                                               SteadyTime deadline) {
  if (lost_) return std::nullopt;
  XFlush(display_);
  for (;;) {
    while (!serverGone() && XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (match(event)) return event;
      dispatch(event);
    }
    if (lost_) return std::nullopt;
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd(), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
}

int Connection::firstErrorOf(const std::function<void()>& requests) {
  if (lost_) return BadImplementation;
  XSync(display_, False);  // errors of earlier requests are not ours to report
  errorTrap = {true, 0};
  requests();
  XSync(display_, False);
  int code = errorTrap.firstCode;
  errorTrap = {};
  return lost_ ? BadImplementation : code;
}

Time Connection::serverTime() {
  if (lost_) return CurrentTime;
  XChangeProperty(display_, window_, atoms_.timestampProperty, XA_INTEGER, 8, PropModeAppend,
                  nullptr, 0);
  // The server sends the property's notice before it answers a later request: one round trip,
  // never a wait for an event.
  XSync(display_, False);
  auto isNotice = [](Display*, XEvent* e, XPointer self) -> Bool {
    const auto* c = reinterpret_cast<const Connection*>(self);
    return e->type == PropertyNotify && e->xproperty.window == c->window_ &&
           e->xproperty.atom == c->atoms_.timestampProperty;
  };
  XEvent event;
  if (!lost_ && XCheckIfEvent(display_, &event, isNotice, reinterpret_cast<XPointer>(this))) {
    return event.xproperty.time;
  }
  return CurrentTime;
}

bool Connection::sameClient(XID a, XID b) {
  if (a == None || b == None) return false;
  auto baseOf = [this](XID id) { return id & ~resourceMask_; };
  if (baseOf(a) == baseOf(b)) return true;
  if (lost_ || !extensions_.xres) return false;
  // The server finds each client by the base bits of the id, whether or not the window itself
  // still exists.
  XResClientIdSpec asked[2] = {{a, XRES_CLIENT_ID_PID_MASK}, {b, XRES_CLIENT_ID_PID_MASK}};
  long count = 0;
  XResClientIdValue* values = nullptr;
  const XResLibrary* xres = xresLibrary();
  if (xres->queryClientIds(display_, 2, asked, &count, &values) != Success) return false;
  pid_t pidOfA = -1, pidOfB = -1;
  for (long i = 0; i < count; ++i) {
    pid_t pid = xres->clientPid(&values[i]);
    const auto& [id, length, value] = values[i];  // the client asked about, and its answer
    if (baseOf(id.client) == baseOf(a)) pidOfA = pid;
    if (baseOf(id.client) == baseOf(b)) pidOfB = pid;
  }
  xres->destroyIds(count, values);
  return pidOfA > 0 && pidOfA == pidOfB;
}

std::string Connection::atomName(Atom atom) {
  if (lost_ || atom == None) return {};
  char* name = XGetAtomName(display_, atom);
  if (name == nullptr) return {};
  std::string result(name);
  XFree(name);
  return result;
}

Atom Connection::intern(const std::string& name) {
  if (lost_) return None;
  return XInternAtom(display_, name.c_str(), False);
}

}  // namespace deskagent::platform::x11
