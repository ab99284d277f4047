// The X11 server: owns the CLIPBOARD selection through a window of its own and answers
// the selection requests of other programs.
//
// Targets served: TARGETS, TIMESTAMP, UTF8_STRING, TEXT, and STRING (Latin-1) where every
// character of the text has a Latin-1 form. The text is one path, so it always fits in one
// property change and incremental transfers are never needed; a longer text is refused.
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clipboard/hand_off_text.h"

namespace clipboard_server {

namespace {

constexpr const char kWindowName[] = "importdlg clipboard";

class SelectionServer {
 public:
  explicit SelectionServer(const HandOffText& text)
      : utf8_(text.utf8), latin1_(text.latin1) {}

  ~SelectionServer() {
    if (connection_) xcb_disconnect(connection_);
  }

  // Connects, makes the server's window and takes the CLIPBOARD selection.
  void TakeSelection() {
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) Fail("cannot open the X display");
    const xcb_screen_t* screen = ScreenNumber(screenNumber);
    if (!screen) Fail("the X display has no such screen");
    // A property change is one request: header, then the bytes.
    const uint64_t maxBytes = uint64_t(xcb_get_maximum_request_length(connection_)) * 4;
    if (utf8_.size() + 64 > maxBytes) Fail("the text is too long for the clipboard");

    clipboard_ = Atom("CLIPBOARD");
    targets_ = Atom("TARGETS");
    timestamp_ = Atom("TIMESTAMP");
    utf8String_ = Atom("UTF8_STRING");
    text_ = Atom("TEXT");
    const xcb_atom_t netWmPid = Atom("_NET_WM_PID");

    window_ = xcb_generate_id(connection_);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const uint32_t pid = uint32_t(getpid());
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, netWmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
    // The name lets tests and users find the server; its property change gives the
    // server time that the selection is taken at (the protocol asks for a real time).
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        uint32_t(std::strlen(kWindowName)), kWindowName);
    xcb_flush(connection_);
    acquired_ = WaitForPropertyTime();

    xcb_set_selection_owner(connection_, window_, clipboard_, acquired_);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr);
    const bool owned = owner && owner->owner == window_;
    free(owner);
    if (!owned) Fail("another program holds the clipboard");
  }

  // Serves requests until the selection is lost, the display goes or the time is up.
  void Serve(long seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    pollfd watched{xcb_get_file_descriptor(connection_), POLLIN, 0};
    while (true) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const bool goOn = Handle(event);
        free(event);
        if (!goOn) return;
      }
      if (xcb_connection_has_error(connection_)) return;
      xcb_flush(connection_);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      const int wait = int(std::min<long long>(left.count(), 60 * 1000));
      if (poll(&watched, 1, wait) < 0 && errno != EINTR) return;
    }
  }

 private:
  const xcb_screen_t* ScreenNumber(int number) const {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (; it.rem; --number, xcb_screen_next(&it))
      if (number == 0) return it.data;
    return nullptr;
  }

  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!reply) Fail("the X display does not answer");
    const xcb_atom_t atom = reply->atom;
    free(reply);
    return atom;
  }

  xcb_timestamp_t WaitForPropertyTime() {
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
      const bool found = (event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY &&
                         reinterpret_cast<xcb_property_notify_event_t*>(event)->window == window_;
      const xcb_timestamp_t time = found ? reinterpret_cast<xcb_property_notify_event_t*>(event)->time : 0;
      free(event);
      if (found) return time;
    }
    Fail("the X display went away");
  }

  // False when the server should end.
  bool Handle(const xcb_generic_event_t* event) {
    switch (event->response_type & 0x7F) {
      case XCB_SELECTION_CLEAR:
        return reinterpret_cast<const xcb_selection_clear_event_t*>(event)->selection != clipboard_;
      case XCB_SELECTION_REQUEST:
        Answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
        return true;
      default:
        // Errors (a requestor window that has gone, for one) and other events change
        // nothing.
        return true;
    }
  }

  // Stores the requested form of the text on the requestor's property and tells it so;
  // a target the server does not offer is refused with the property None.
  void Answer(const xcb_selection_request_event_t& request) {
    // Clients from before the current protocol name no property: the target stands in.
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    bool stored = request.selection == clipboard_ &&
                  (request.time == XCB_CURRENT_TIME || request.time >= acquired_);
    if (stored) stored = Store(request.requestor, property, request.target);
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = stored ? property : XCB_NONE;
    // SendEvent always sends 32 bytes; the event structure is shorter.
    char wire[32] = {};
    static_assert(sizeof notify <= sizeof wire);
    std::memcpy(wire, &notify, sizeof notify);
    xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, wire);
    xcb_flush(connection_);
  }

  bool Store(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target) {
    if (target == targets_) {
      std::vector<xcb_atom_t> offered{targets_, timestamp_, utf8String_, text_};
      if (latin1_) offered.push_back(XCB_ATOM_STRING);
      Put(requestor, property, XCB_ATOM_ATOM, 32, offered.data(), offered.size());
    } else if (target == timestamp_) {
      Put(requestor, property, XCB_ATOM_INTEGER, 32, &acquired_, 1);
    } else if (target == utf8String_ || (target == text_ && !latin1_)) {
      Put(requestor, property, utf8String_, 8, utf8_.data(), utf8_.size());
    } else if ((target == XCB_ATOM_STRING || target == text_) && latin1_) {
      Put(requestor, property, XCB_ATOM_STRING, 8, latin1_->data(), latin1_->size());
    } else {
      return false;
    }
    return true;
  }

  void Put(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, uint8_t format, const void* data,
           size_t count) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, requestor, property, type, format, uint32_t(count),
                        data);
  }

  const std::string& utf8_;
  const std::optional<std::string>& latin1_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t window_ = XCB_NONE;
  xcb_timestamp_t acquired_ = XCB_CURRENT_TIME;
  xcb_atom_t clipboard_ = XCB_NONE, targets_ = XCB_NONE, timestamp_ = XCB_NONE, utf8String_ = XCB_NONE,
             text_ = XCB_NONE;
};

}  // namespace

void ServeOnX11(const HandOffText& text, long seconds) {
  SelectionServer server(text);
  server.TakeSelection();
  ReportReady();
  server.Serve(seconds);
}

}  // namespace clipboard_server
