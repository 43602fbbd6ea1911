// Scenario steps on the simulated clipboard, the frontmost application and the synthetic keys.
//
// Texts are JSON strings. A step's words are split at white space and joined again with single
// spaces, so write "a  b" (two spaces) as "a\u0020 b".

#include <chrono>
#include <nlohmann/json.hpp>
#include <numeric>
#include <sstream>

#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;
using platform::PasteboardContents;
using platform::PasteboardItem;
using platform::PasteboardRepresentation;
using platform::SimDesktop;

json jsonFrom(const std::vector<std::string>& args, std::size_t first) {
  if (first >= args.size()) throw ScenarioError("missing argument " + std::to_string(first + 1));
  std::string text = std::accumulate(
      args.begin() + static_cast<long>(first) + 1, args.end(), args[first],
      [](std::string joined, const std::string& word) { return joined + " " + word; });
  json value = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) throw ScenarioError("not JSON: " + text);
  return value;
}

std::string textFrom(const std::vector<std::string>& args, std::size_t first) {
  json value = jsonFrom(args, first);
  if (!value.is_string()) throw ScenarioError("not a JSON string: " + value.dump());
  return value.get<std::string>();
}

std::string describe(const PasteboardContents& contents) {
  if (contents.items.empty()) return "(empty)";
  std::ostringstream out;
  for (const auto& item : contents.items) {
    out << "[";
    for (const auto& r : item.representations) out << " " << r.type << "=" << json(r.data).dump();
    out << " ]";
  }
  return out.str();
}

void expectClipboard(const SimDesktop& desktop, const PasteboardContents& expected) {
  if (desktop.clipboard() != expected) {
    throw ScenarioError("clipboard: expected " + describe(expected) + ", got " +
                        describe(desktop.clipboard()));
  }
}

// The rich text a word processor would put beside the plain text.
PasteboardContents richTextWithImage(const std::string& text) {
  return PasteboardContents{{
      PasteboardItem{{PasteboardRepresentation{platform::kSimRichTextType, "{\\rtf1 " + text + "}"},
                      PasteboardRepresentation{platform::kSimPlainTextType, text}}},
      PasteboardItem{{PasteboardRepresentation{platform::kSimImageType, "photo of " + text}}},
  }};
}

// --- What the user has on the clipboard ---

// clipboard-empty: the clipboard holds nothing at all.
SCENARIO_ACTION("clipboard-empty", [](ScenarioContext& c, const std::vector<std::string>&) {
  c.sim.desktop().userCopies({});
});

// clipboard-text JSON / user-copies JSON: one item of plain text, copied by the user.
void userCopiesText(ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.desktop().userCopies(platform::simPlainText(textFrom(args, 0)));
}
SCENARIO_ACTION("clipboard-text", userCopiesText);
SCENARIO_ACTION("user-copies", userCopiesText);

// clipboard-rich JSON: rich text with its plain text, and a second item with an image.
SCENARIO_ACTION("clipboard-rich", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.desktop().userCopies(richTextWithImage(textFrom(args, 0)));
});

// clipboard-image NAME: one item holding only an image.
SCENARIO_ACTION("clipboard-image", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.desktop().userCopies(PasteboardContents{
      {PasteboardItem{{PasteboardRepresentation{platform::kSimImageType, argWord(args, 0)}}}}});
});

// clipboard-notifies-read yes|no: whether the platform can tell when the target read the text.
SCENARIO_ACTION("clipboard-notifies-read",
                [](ScenarioContext& c, const std::vector<std::string>& args) {
                  c.sim.desktop().notifiesPasteRead = argWord(args, 0) == "yes";
                });

// clipboard-tells-writer yes|no: whether the platform can tell who made the clipboard's content.
SCENARIO_ACTION("clipboard-tells-writer",
                [](ScenarioContext& c, const std::vector<std::string>& args) {
                  c.sim.desktop().tellsWriter = argWord(args, 0) == "yes";
                });

// clipboard-owner-silent: the current content's owner stops answering; it cannot be read.
SCENARIO_ACTION("clipboard-owner-silent", [](ScenarioContext& c, const std::vector<std::string>&) {
  c.sim.desktop().ownerFallsSilent();
});

// clipboard-read-time 300ms: how long reading the whole clipboard takes.
SCENARIO_ACTION("clipboard-read-time",
                [](ScenarioContext& c, const std::vector<std::string>& args) {
                  c.sim.desktop().snapshotTime = parseDuration(argWord(args, 0));
                });

// --- The frontmost application ---

// app-selection JSON: what the application copies on Command-C.
SCENARIO_ACTION("app-selection", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.desktop().onCopy = SimDesktop::OnCopy::copiesSelection;
  c.sim.desktop().selection = textFrom(args, 0);
});

SCENARIO_ACTION("app-ignores-copy", [](ScenarioContext& c, const std::vector<std::string>&) {
  c.sim.desktop().onCopy = SimDesktop::OnCopy::ignores;
});

// app-copies-image: Command-C puts an image and no text on the clipboard.
SCENARIO_ACTION("app-copies-image", [](ScenarioContext& c, const std::vector<std::string>&) {
  c.sim.desktop().onCopy = SimDesktop::OnCopy::copiesImage;
});

// app-latency 300ms: how long after a chord the application copies, or reads what it pastes.
SCENARIO_ACTION("app-latency", [](ScenarioContext& c, const std::vector<std::string>& args) {
  c.sim.desktop().appLatency = parseDuration(argWord(args, 0));
});

// --- The synthetic keys ---

// key-fails down|up: that event of the chord cannot be created.
SCENARIO_ACTION("key-fails", [](ScenarioContext& c, const std::vector<std::string>& args) {
  const std::string& which = argWord(args, 0);
  if (which != "down" && which != "up") throw ScenarioError("key-fails down|up");
  (which == "down" ? c.sim.desktop().keyDownCreatable : c.sim.desktop().keyUpCreatable) = false;
});

// --- Checks ---

// expect-clipboard empty | text JSON | users-copy | untouched
//   users-copy: what the user last copied, every item and type of it;
//   untouched: that, and nobody has replaced it since (not even with the same content).
SCENARIO_ACTION("expect-clipboard", [](ScenarioContext& c, const std::vector<std::string>& args) {
  const SimDesktop& desktop = c.sim.desktop();
  const std::string& form = argWord(args, 0);
  if (form == "empty") {
    expectClipboard(desktop, {});
  } else if (form == "text") {
    expectClipboard(desktop, platform::simPlainText(textFrom(args, 1)));
  } else if (form == "users-copy") {
    expectClipboard(desktop, desktop.usersCopy());
  } else if (form == "untouched") {
    expectClipboard(desktop, desktop.usersCopy());
    expectEqual(desktop.changeCount(), desktop.changeCountAfterUsersCopy(),
                "change count since the user's copy");
  } else {
    throw ScenarioError("expect-clipboard empty | text JSON | users-copy | untouched");
  }
});

// expect-pasted ["a", null]: what the application pasted since the last expect-pasted, in
// order; null where it found no plain text.
SCENARIO_ACTION("expect-pasted", [](ScenarioContext& c, const std::vector<std::string>& args) {
  json expected = jsonFrom(args, 0);
  auto& pasted = c.sim.desktop().pasted;
  json actual = json::array();
  for (const auto& text : pasted) actual.push_back(text ? json(*text) : json());
  pasted.clear();  // checked once
  if (actual != expected) {
    throw ScenarioError("pasted: expected " + expected.dump() + ", got " + actual.dump());
  }
});

// expect-untouched: the agent has not used the clipboard nor made a keyboard event so far.
SCENARIO_ACTION("expect-untouched", [](ScenarioContext& c, const std::vector<std::string>&) {
  const SimDesktop& desktop = c.sim.desktop();
  expectEqual(desktop.agentClipboardCalls, 0, "the agent's clipboard calls");
  expectEqual(desktop.eventSourcesCreated, 0, "event sources created");
  expectEqual(desktop.keyboardEventsCreated, 0, "keyboard events created");
});

// expect-chords N: how many chords the agent has posted (key-downs with exactly Command).
SCENARIO_ACTION("expect-chords", [](ScenarioContext& c, const std::vector<std::string>& args) {
  long long chords = 0;
  for (const auto& key : c.sim.desktop().postedKeys) {
    if (key.keyDown && key.flags == platform::kFlagCommand) ++chords;
  }
  expectEqual(chords, argInt(args, 0), "chords posted");
});

// expect-transfers-idle: no paste or read is in flight or waiting its turn.
SCENARIO_ACTION("expect-transfers-idle", [](ScenarioContext& c, const std::vector<std::string>&) {
  if (!c.agent->transfers.idle()) throw ScenarioError("a transfer is still in flight");
});

// expect-no-pending-work: nothing at all is left for the loop to finish (the simulated
// application's own delayed actions included).
SCENARIO_ACTION("expect-no-pending-work", [](ScenarioContext& c, const std::vector<std::string>&) {
  if (c.loop.hasPendingWork()) throw ScenarioError("work is still pending");
});

}  // namespace
}  // namespace deskagent::testing
