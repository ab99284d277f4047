// The Wayland server: sets the seat's selection through the compositor's data-control
// protocol and writes the text to every program that asks for it.
//
// Two protocols carry the same requests in the same order: ext-data-control-v1, the
// standard one of newer compositors, and its forerunner wlr-data-control-unstable-v1
// (wlroots compositors such as sway, and KWin). The standard one is taken where the
// compositor offers both. Unlike a window's clipboard, a data-control selection needs no
// keyboard focus, so a server without a window can hold it.
//
// Types offered: "text/plain;charset=utf-8", "UTF8_STRING", "TEXT" and "text/plain" as
// UTF-8 (a byte stream carries no type that could tell a reader of "TEXT" it holds Latin-1,
// so it holds what Wayland programs expect), and "STRING" as Latin-1 where every character
// of the text has a Latin-1 form.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/hand_off_text.h"
#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace clipboard_server {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUtf8Types[] = {"text/plain;charset=utf-8", "UTF8_STRING", "TEXT", "text/plain"};
constexpr const char kLatin1Type[] = "STRING";
// A reader that asks and then does not read must not hold the server's memory or file
// descriptors for ever: a few transfers at a time, each given up after a while.
constexpr size_t kMaxTransfers = 16;
constexpr auto kTransferTimeout = std::chrono::seconds(30);

// The generated functions of one data-control protocol under common names, so that the
// server is written once for both. PREFIX is the protocol's interface prefix.
#define IMPORTDLG_DATA_CONTROL_PROTOCOL(Name, PREFIX)                                                     \
  struct Name {                                                                                         \
    using Manager = PREFIX##_data_control_manager_v1;                                                   \
    using Device = PREFIX##_data_control_device_v1;                                                     \
    using Source = PREFIX##_data_control_source_v1;                                                     \
    using Offer = PREFIX##_data_control_offer_v1;                                                       \
    using DeviceListener = PREFIX##_data_control_device_v1_listener;                                    \
    using SourceListener = PREFIX##_data_control_source_v1_listener;                                    \
    static const wl_interface* ManagerInterface() { return &PREFIX##_data_control_manager_v1_interface; } \
    static Source* CreateSource(Manager* m) { return PREFIX##_data_control_manager_v1_create_data_source(m); } \
    static Device* GetDevice(Manager* m, wl_seat* seat) {                                               \
      return PREFIX##_data_control_manager_v1_get_data_device(m, seat);                                 \
    }                                                                                                   \
    static void AddType(Source* s, const char* type) { PREFIX##_data_control_source_v1_offer(s, type); }  \
    static void SetSelection(Device* d, Source* s) { PREFIX##_data_control_device_v1_set_selection(d, s); } \
    static void Listen(Source* s, const SourceListener* l, void* data) {                                \
      PREFIX##_data_control_source_v1_add_listener(s, l, data);                                         \
    }                                                                                                   \
    static void Listen(Device* d, const DeviceListener* l, void* data) {                                \
      PREFIX##_data_control_device_v1_add_listener(d, l, data);                                         \
    }                                                                                                   \
    static void Destroy(Manager* m) { PREFIX##_data_control_manager_v1_destroy(m); }                    \
    static void Destroy(Device* d) { PREFIX##_data_control_device_v1_destroy(d); }                      \
    static void Destroy(Source* s) { PREFIX##_data_control_source_v1_destroy(s); }                      \
    static void Destroy(Offer* o) { PREFIX##_data_control_offer_v1_destroy(o); }                        \
  }

IMPORTDLG_DATA_CONTROL_PROTOCOL(ExtDataControl, ext);
IMPORTDLG_DATA_CONTROL_PROTOCOL(WlrDataControl, zwlr);
#undef IMPORTDLG_DATA_CONTROL_PROTOCOL

// The display connection and the globals the server needs from it: the first seat and
// the data-control managers on offer.
class Compositor {
 public:
  Compositor() {
    display_ = wl_display_connect(nullptr);
    if (!display_) Fail("cannot connect to the Wayland display");
    registry_ = wl_display_get_registry(display_);
    static const wl_registry_listener listener{&Compositor::OnGlobal, &Compositor::OnGlobalRemove};
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0) Fail("the Wayland display does not answer");
  }

  ~Compositor() {
    if (seat_) wl_seat_destroy(seat_);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
  }

  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  wl_display* Display() const { return display_; }
  wl_seat* Seat() const { return seat_; }
  bool Offers(const wl_interface* manager) const { return ManagerName(manager) != 0; }

  // Binds version 1 of a manager on offer: the server needs nothing of later versions.
  template <class Protocol>
  typename Protocol::Manager* Bind() const {
    const uint32_t name = ManagerName(Protocol::ManagerInterface());
    return static_cast<typename Protocol::Manager*>(
        wl_registry_bind(registry_, name, Protocol::ManagerInterface(), 1));
  }

 private:
  struct Global {
    const wl_interface* interface;
    uint32_t name;
  };

  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* self = static_cast<Compositor*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0) {
      if (!self->seat_) self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
      return;
    }
    for (const wl_interface* manager : {ExtDataControl::ManagerInterface(), WlrDataControl::ManagerInterface()}) {
      if (std::strcmp(interface, manager->name) == 0) self->managers_.push_back({manager, name});
    }
  }

  static void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

  uint32_t ManagerName(const wl_interface* manager) const {
    for (const Global& global : managers_)
      if (global.interface == manager) return global.name;
    return 0;
  }

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  std::vector<Global> managers_;
};

// One answer still being written: the reader has not taken all of it yet. The descriptor
// is non-blocking, so a slow reader never stops the server.
struct Transfer {
  int fd;
  std::string_view bytes;
  Clock::time_point deadline;
};

template <class Protocol>
class SelectionServer {
 public:
  SelectionServer(Compositor& compositor, const HandOffText& text)
      : compositor_(compositor), text_(text), manager_(compositor.Bind<Protocol>()) {
    static const typename Protocol::DeviceListener deviceListener{&OnDataOffer, &OnSelection, &OnFinished,
                                                                  &OnPrimarySelection};
    device_ = Protocol::GetDevice(manager_, compositor_.Seat());
    Protocol::Listen(device_, &deviceListener, this);
  }

  ~SelectionServer() {
    // A reader that asked just before the selection was taken still gets what its pipe
    // holds at once.
    WriteTransfers();
    for (const Transfer& transfer : transfers_) close(transfer.fd);
    for (typename Protocol::Offer* offer : {selectionOffer_, primaryOffer_})
      if (offer) Protocol::Destroy(offer);
    if (device_) Protocol::Destroy(device_);
    if (source_) Protocol::Destroy(source_);
    Protocol::Destroy(manager_);
  }

  SelectionServer(const SelectionServer&) = delete;
  SelectionServer& operator=(const SelectionServer&) = delete;

  void TakeSelection() {
    static const typename Protocol::SourceListener sourceListener{&OnSend, &OnCancelled};
    source_ = Protocol::CreateSource(manager_);
    Protocol::Listen(source_, &sourceListener, this);
    for (const char* type : kUtf8Types) Protocol::AddType(source_, type);
    if (text_.latin1) Protocol::AddType(source_, kLatin1Type);
    Protocol::SetSelection(device_, source_);
    // The round trip makes sure that the compositor has taken the selection: a refusal
    // is a protocol error that ends the connection.
    if (wl_display_roundtrip(compositor_.Display()) < 0) {
      Fail(wl_display_get_error(compositor_.Display()) == EPROTO ? "the compositor refused the clipboard selection"
                                                                  : "the Wayland display went away");
    }
    if (ended_) Fail("the compositor took the clipboard selection back at once");
  }

  // Sets the seat's selection to none: the program that held it (a server of an earlier
  // hand-off, for one) is told that it is cancelled.
  void EmptySelection() {
    Protocol::SetSelection(device_, nullptr);
    if (wl_display_roundtrip(compositor_.Display()) < 0) Fail("the compositor refused to empty the clipboard");
  }

  // Serves send requests until the selection is taken, the display goes or the time is
  // up.
  void Serve(long seconds) {
    wl_display* display = compositor_.Display();
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    while (!ended_) {
      WriteTransfers();
      while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0) return;
      }
      if (ended_) {
        wl_display_cancel_read(display);
        return;
      }
      wl_display_flush(display);
      std::vector<pollfd> watched{{wl_display_get_fd(display), POLLIN, 0}};
      Clock::time_point wake = end;
      for (const Transfer& transfer : transfers_) {
        watched.push_back({transfer.fd, POLLOUT, 0});
        wake = std::min(wake, transfer.deadline);
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
      const int ready = poll(watched.data(), watched.size(), int(std::clamp<long long>(left, 0, 60 * 1000)));
      if (ready < 0 && errno != EINTR) {
        wl_display_cancel_read(display);
        return;
      }
      if (ready > 0 && watched[0].revents != 0) {
        if (wl_display_read_events(display) < 0) return;
      } else {
        wl_display_cancel_read(display);
      }
      if (wl_display_dispatch_pending(display) < 0) return;
      if (Clock::now() >= end) return;
    }
  }

 private:
  static void OnSend(void* data, typename Protocol::Source*, const char* type, int32_t fd) {
    static_cast<SelectionServer*>(data)->StartTransfer(type, fd);
  }
  // Another program has set the selection.
  static void OnCancelled(void* data, typename Protocol::Source*) { static_cast<SelectionServer*>(data)->ended_ = true; }
  // The offers of the selections, ours or another program's, are kept only to be
  // destroyed when the next one replaces them.
  static void OnDataOffer(void*, typename Protocol::Device*, typename Protocol::Offer*) {}
  static void OnSelection(void* data, typename Protocol::Device*, typename Protocol::Offer* offer) {
    static_cast<SelectionServer*>(data)->Replace(&SelectionServer::selectionOffer_, offer);
  }
  static void OnPrimarySelection(void* data, typename Protocol::Device*, typename Protocol::Offer* offer) {
    static_cast<SelectionServer*>(data)->Replace(&SelectionServer::primaryOffer_, offer);
  }
  // The seat has gone.
  static void OnFinished(void* data, typename Protocol::Device*) { static_cast<SelectionServer*>(data)->ended_ = true; }

  void Replace(typename Protocol::Offer* SelectionServer::*slot, typename Protocol::Offer* offer) {
    typename Protocol::Offer*& current = this->*slot;
    if (current && current != offer) Protocol::Destroy(current);
    current = offer;
  }

  // A type the server does not offer, or one transfer too many, gets an empty answer.
  void StartTransfer(const char* type, int fd) {
    const std::string* bytes = BytesOf(type);
    if (!bytes || transfers_.size() >= kMaxTransfers || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
      close(fd);
      return;
    }
    transfers_.push_back({fd, *bytes, Clock::now() + kTransferTimeout});
  }

  const std::string* BytesOf(std::string_view type) const {
    if (type == kLatin1Type) return text_.latin1 ? &*text_.latin1 : nullptr;
    for (const char* utf8Type : kUtf8Types)
      if (type == utf8Type) return &text_.utf8;
    return nullptr;
  }

  // Writes what each reader takes now; a transfer that is done, failed (the reader has
  // gone: SIGPIPE is ignored) or overdue is closed.
  void WriteTransfers() {
    const Clock::time_point now = Clock::now();
    std::erase_if(transfers_, [now](Transfer& transfer) {
      bool wouldBlock = false;
      while (!transfer.bytes.empty()) {
        const ssize_t n = write(transfer.fd, transfer.bytes.data(), transfer.bytes.size());
        if (n > 0) {
          transfer.bytes.remove_prefix(size_t(n));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        wouldBlock = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
      }
      const bool waiting = !transfer.bytes.empty() && wouldBlock && now < transfer.deadline;
      if (!waiting) close(transfer.fd);
      return !waiting;
    });
  }

  Compositor& compositor_;
  const HandOffText& text_;
  typename Protocol::Manager* manager_;
  typename Protocol::Source* source_ = nullptr;
  typename Protocol::Device* device_ = nullptr;
  typename Protocol::Offer* selectionOffer_ = nullptr;
  typename Protocol::Offer* primaryOffer_ = nullptr;
  std::vector<Transfer> transfers_;
  bool ended_ = false;
};

template <class Protocol>
void Serve(Compositor& compositor, const HandOffText& text, long seconds) {
  SelectionServer<Protocol> server(compositor, text);
  server.TakeSelection();
  ReportReady();
  server.Serve(seconds);
}

template <class Protocol>
void Empty(Compositor& compositor) {
  const HandOffText none;
  SelectionServer<Protocol>(compositor, none).EmptySelection();
  ReportReady();
}

// Calls action(Protocol{}) with the data-control protocol the compositor offers, the
// standard one first.
template <class Action>
void WithDataControl(Compositor& compositor, Action action) {
  if (!compositor.Seat()) Fail("the compositor has no seat");
  if (compositor.Offers(ExtDataControl::ManagerInterface())) {
    action(ExtDataControl{});
  } else if (compositor.Offers(WlrDataControl::ManagerInterface())) {
    action(WlrDataControl{});
  } else {
    Fail("the compositor offers no data-control protocol");
  }
}

}  // namespace

void ServeOnWayland(const HandOffText& text, long seconds) {
  Compositor compositor;
  WithDataControl(compositor, [&](auto protocol) { Serve<decltype(protocol)>(compositor, text, seconds); });
}

void EmptyOnWayland() {
  Compositor compositor;
  WithDataControl(compositor, [&](auto protocol) { Empty<decltype(protocol)>(compositor); });
}

}  // namespace clipboard_server
