#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.hpp"

namespace deskagent::platform::x11 {

// A selection owner's answer: the property's type, format and bytes (format-32 items as 32-bit
// values, whatever size Xlib hands them in).
struct SelectionData {
  Atom type = None;
  int format = 0;
  std::string bytes;
};

// Why a conversion gave nothing: the owner said no, or said nothing in time (then asking it for
// more only costs more time).
enum class ConvertFailure { refused, timedOut, tooLarge };

// Asks a selection's owner (CLIPBOARD, PRIMARY) for targets and waits for the answers, INCR
// included. Each wait is bounded, and the connection keeps handling every other event meanwhile.
class SelectionReader {
 public:
  SelectionReader(Connection& connection, Atom selection)
      : connection_(connection), selection_(selection) {}

  // One target, converted into our window's transfer property. `maxBytes` bounds what is
  // accepted; an owner sending more is cut off.
  std::optional<SelectionData> convert(Atom target, SteadyTime deadline, std::size_t maxBytes,
                                       ConvertFailure* failure = nullptr);

  // The owner's TARGETS.
  std::optional<std::vector<Atom>> targets(SteadyTime deadline, ConvertFailure* failure = nullptr);

 private:
  std::optional<SelectionData> readProperty(std::size_t maxBytes, ConvertFailure* failure);
  std::optional<SelectionData> receiveIncrementally(SteadyTime deadline, std::size_t maxBytes,
                                                    std::size_t sizeHint, ConvertFailure* failure);

  Connection& connection_;
  Atom selection_;
};

// The atoms in a format-32 ATOM list.
std::vector<Atom> atomsIn(const SelectionData& data);

}  // namespace deskagent::platform::x11
