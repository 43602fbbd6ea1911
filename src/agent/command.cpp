#include "agent/command.hpp"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace deskagent {
namespace {

using nlohmann::json;

// The top-level object is level 1. Hosts may add members of their own beside a command, and
// those may nest a little; nothing the agent reads does.
constexpr int kMaxDepth = 8;

// Follows the parser's events, keeping only the top-level members a command reads.
class CommandReader {
 public:
  enum class Member { other, type, keyCode, text, scope };

  bool null() { return value(); }
  bool boolean(bool) { return value(); }
  bool number_integer(json::number_integer_t number) {
    if (!value()) return false;
    if (at(Member::keyCode)) command_.keyCode = number;
    return true;
  }
  bool number_unsigned(json::number_unsigned_t number) {
    if (!value()) return false;
    if (at(Member::keyCode) &&
        number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      command_.keyCode = static_cast<std::int64_t>(number);
    }
    return true;
  }
  bool number_float(json::number_float_t number, const json::string_t&) {
    if (!value()) return false;
    // (-2^63, 2^63): both bounds are exact doubles. A literal below the range reaches us as a
    // double rounded to -2^63, so that value is refused too; hosts send -2^63 as an integer.
    if (at(Member::keyCode) && std::isfinite(number) && number == std::trunc(number) &&
        number > -9223372036854775808.0 && number < 9223372036854775808.0) {
      command_.keyCode = static_cast<std::int64_t>(number);
    }
    return true;
  }
  bool string(json::string_t& text) {
    if (!value()) return false;
    // The parser is done with its buffer: a long text is moved, never copied.
    if (at(Member::type)) type_ = std::move(text);
    if (at(Member::text)) command_.text = std::move(text);
    if (at(Member::scope)) command_.scope = std::move(text);
    return true;
  }
  bool binary(json::binary_t&) { return false; }  // not in JSON text

  bool start_object(std::size_t) { return open(); }
  bool start_array(std::size_t) { return depth_ > 0 && open(); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(json::string_t& name) {
    if (depth_ == 1) member_ = memberNamed(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

  std::optional<Command> take() {
    if (!type_) return std::nullopt;
    command_.type = std::move(*type_);
    return std::move(command_);
  }

 private:
  static Member memberNamed(const std::string& name) {
    if (name == "type") return Member::type;
    if (name == "keyCode") return Member::keyCode;
    if (name == "text") return Member::text;
    if (name == "scope") return Member::scope;
    return Member::other;
  }

  bool at(Member member) const { return depth_ == 1 && member_ == member; }

  // Called for every value. A later member of the same name replaces an earlier one, so what the
  // earlier one said is forgotten before the new value is looked at.
  bool value() {
    if (depth_ == 0) return false;  // a line that is a bare string, number, boolean or null
    if (at(Member::type)) type_.reset();
    if (at(Member::keyCode)) command_.keyCode.reset();
    if (at(Member::text)) command_.text.reset();
    if (at(Member::scope)) command_.scope.reset();
    return true;
  }

  bool open() {
    if (depth_ > 0) value();  // the top-level object is no member's value
    return ++depth_ <= kMaxDepth;
  }

  bool close() {
    --depth_;
    return true;
  }

  int depth_ = 0;
  Member member_ = Member::other;
  std::optional<std::string> type_;
  Command command_;
};

}  // namespace

std::optional<Command> parseCommand(InputLine line) {
  line.replaceLoneSurrogateEscapes();
  CommandReader reader;
  if (!json::sax_parse(line.consumeBegin(), line.consumeEnd(), &reader)) return std::nullopt;
  return reader.take();
}

}  // namespace deskagent
