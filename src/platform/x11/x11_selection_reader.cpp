#include "platform/x11/x11_selection_reader.hpp"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace deskagent::platform::x11 {
namespace {

// What one XGetWindowProperty asks for, in 32-bit units.
constexpr long kReadChunkUnits = 1 << 18;  // 1 MiB

// A silent owner costs at most this per answer or INCR chunk (and never more than the deadline);
// an owner still sending goes on until the deadline.
constexpr auto kReplyTimeout = std::chrono::milliseconds(500);

SteadyTime replyDeadline(SteadyTime deadline) {
  auto soon = std::chrono::steady_clock::now() + kReplyTimeout;
  return soon < deadline ? soon : deadline;
}

void setFailure(ConvertFailure* out, ConvertFailure failure) {
  if (out != nullptr) *out = failure;
}

}  // namespace

std::vector<Atom> atomsIn(const SelectionData& data) {
  std::vector<Atom> atoms;
  if (data.format != 32) return atoms;
  for (std::size_t i = 0; i + 4 <= data.bytes.size(); i += 4) {
    std::uint32_t value;
    std::memcpy(&value, data.bytes.data() + i, 4);
    atoms.push_back(value);
  }
  return atoms;
}

std::optional<SelectionData> SelectionReader::readProperty(std::size_t maxBytes,
                                                           ConvertFailure* failure) {
  Display* display = connection_.display();
  Window window = connection_.window();
  Atom property = connection_.atoms().transferProperty;
  SelectionData data;
  long offset = 0;
  for (;;) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* items = nullptr;
    if (XGetWindowProperty(display, window, property, offset, kReadChunkUnits, False,
                           AnyPropertyType, &type, &format, &count, &after, &items) != Success ||
        type == None) {
      if (items != nullptr) XFree(items);
      setFailure(failure, ConvertFailure::refused);
      return std::nullopt;
    }
    data.type = type;
    data.format = format;
    std::size_t bytes = 0;
    if (format == 8) {
      data.bytes.append(reinterpret_cast<const char*>(items), count);
      bytes = count;
    } else if (format == 16) {
      data.bytes.append(reinterpret_cast<const char*>(items), count * 2);
      bytes = count * 2;
    } else if (format == 32) {
      // Xlib widens format-32 items to long.
      const auto* longs = reinterpret_cast<const unsigned long*>(items);
      for (unsigned long i = 0; i < count; ++i) {
        auto value = static_cast<std::uint32_t>(longs[i]);
        data.bytes.append(reinterpret_cast<const char*>(&value), 4);
      }
      bytes = count * 4;
    }
    if (items != nullptr) XFree(items);
    offset += static_cast<long>(bytes / 4);
    if (data.bytes.size() > maxBytes) {
      XDeleteProperty(display, window, property);
      setFailure(failure, ConvertFailure::tooLarge);
      return std::nullopt;
    }
    if (after == 0 || bytes == 0) break;
  }
  // Deleting it is what tells an INCR owner to send the next chunk.
  XDeleteProperty(display, window, property);
  XFlush(display);
  return data;
}

std::optional<SelectionData> SelectionReader::receiveIncrementally(SteadyTime deadline,
                                                                   std::size_t maxBytes,
                                                                   std::size_t sizeHint,
                                                                   ConvertFailure* failure) {
  Window window = connection_.window();
  Atom property = connection_.atoms().transferProperty;
  SelectionData whole;
  whole.type = None;
  // The owner announces a lower bound of the size: one allocation instead of a doubling run.
  whole.bytes.reserve(std::min(sizeHint, maxBytes));
  for (;;) {
    auto event = connection_.waitForEvent(
        [&](const XEvent& e) {
          return e.type == PropertyNotify && e.xproperty.window == window &&
                 e.xproperty.atom == property && e.xproperty.state == PropertyNewValue;
        },
        replyDeadline(deadline));
    if (!event) {
      setFailure(failure, ConvertFailure::timedOut);
      return std::nullopt;
    }
    auto chunk = readProperty(maxBytes - whole.bytes.size(), failure);
    if (!chunk) return std::nullopt;
    if (chunk->bytes.empty()) break;  // the zero-length chunk ends the transfer
    whole.type = chunk->type;
    whole.format = chunk->format;
    whole.bytes += chunk->bytes;
  }
  if (whole.type == None) {
    setFailure(failure, ConvertFailure::refused);
    return std::nullopt;
  }
  return whole;
}

std::optional<SelectionData> SelectionReader::convert(Atom target, SteadyTime deadline,
                                                      std::size_t maxBytes,
                                                      ConvertFailure* failure) {
  if (connection_.lost()) {
    setFailure(failure, ConvertFailure::timedOut);
    return std::nullopt;
  }
  Display* display = connection_.display();
  const Atoms& atoms = connection_.atoms();
  Window window = connection_.window();
  XDeleteProperty(display, window, atoms.transferProperty);
  XConvertSelection(display, selection_, target, atoms.transferProperty, window, CurrentTime);
  auto notify = connection_.waitForEvent(
      [&](const XEvent& e) {
        return e.type == SelectionNotify && e.xselection.requestor == window &&
               e.xselection.selection == selection_ && e.xselection.target == target;
      },
      replyDeadline(deadline));
  if (!notify) {
    setFailure(failure, ConvertFailure::timedOut);
    return std::nullopt;
  }
  if (notify->xselection.property == None) {
    setFailure(failure, ConvertFailure::refused);
    return std::nullopt;
  }
  auto data = readProperty(maxBytes, failure);
  if (!data) return std::nullopt;
  if (data->type == atoms.incr) {
    auto announced = atomsIn(*data);  // one 32-bit value
    std::size_t sizeHint = announced.empty() ? 0 : announced.front();
    return receiveIncrementally(deadline, maxBytes, sizeHint, failure);
  }
  return data;
}

std::optional<std::vector<Atom>> SelectionReader::targets(SteadyTime deadline,
                                                          ConvertFailure* failure) {
  auto data = convert(connection_.atoms().targets, deadline, 64 * 1024, failure);
  if (!data || data->format != 32) return std::nullopt;
  return atomsIn(*data);
}

}  // namespace deskagent::platform::x11
