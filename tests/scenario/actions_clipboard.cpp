// Scenario steps on the simulated clipboard, the frontmost application and the synthetic keys.
//
// Texts are JSON strings. A step's words are split at white space and joined again with single
// spaces, so write "a  b" (two spaces) as "a\u0020 b".

#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <numeric>

#include "scenario/scenario.hpp"

namespace deskagent::testing {
namespace {

using nlohmann::json;
using platform::PasteboardContents;
using platform::PasteboardItem;
using platform::PasteboardRepresentation;
using platform::SimDesktop;

// Members keep the order they are written in: an item's types are in its owner's order.
template <class Json = json>
Json jsonFrom(const Args& args, std::size_t first) {
  if (first >= args.size()) throw ScenarioError("missing argument " + std::to_string(first + 1));
  std::string text = std::accumulate(
      args.begin() + static_cast<long>(first) + 1, args.end(), args[first],
      [](std::string joined, const std::string& word) { return joined + " " + word; });
  Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) throw ScenarioError("not JSON: " + text);
  return value;
}

std::string textFrom(const Args& args, std::size_t first) {
  json value = jsonFrom(args, first);
  if (!value.is_string()) throw ScenarioError("not a JSON string: " + value.dump());
  return value.get<std::string>();
}

// empty | text JSON | dictated JSON | rich JSON | image NAME | item {"type":"data",...}, from
// args[first]. Rich text comes as a word processor would put it: rich text beside the plain text,
// and a second item with an image. An item's types keep the order they are written in.
PasteboardContents contentsFrom(const Args& args, std::size_t first) {
  const std::string& form = argWord(args, first);
  auto item = [](const char* type, std::string data) {
    return PasteboardItem{{PasteboardRepresentation{type, std::move(data)}}};
  };
  if (form == "empty") return {};
  if (form == "text") return platform::simPlainText(textFrom(args, first + 1));
  if (form == "dictated") return platform::simDictatedText(textFrom(args, first + 1));
  if (form == "image") return {{item(platform::kSimImageType, argWord(args, first + 1))}};
  if (form == "item") {
    auto types = jsonFrom<nlohmann::ordered_json>(args, first + 1);
    if (!types.is_object()) throw ScenarioError("item {\"type\":\"data\",...}");
    PasteboardItem one;
    for (const auto& [type, data] : types.items()) {
      one.representations.push_back({type, data.get<std::string>()});
    }
    return {{one}};
  }
  if (form != "rich") throw ScenarioError("empty | text | dictated | rich | image | item");
  std::string text = textFrom(args, first + 1);
  PasteboardItem rich = item(platform::kSimRichTextType, "{\\rtf1 " + text + "}");
  rich.representations.push_back(PasteboardRepresentation{platform::kSimPlainTextType, text});
  return {{rich, item(platform::kSimImageType, "photo of " + text)}};
}

// Each item as an object of its representations, by type.
std::string describe(const PasteboardContents& contents) {
  nlohmann::ordered_json items = nlohmann::ordered_json::array();
  for (const auto& item : contents.items) {
    auto& representations = items.emplace_back(nlohmann::ordered_json::object());
    for (const auto& r : item.representations) representations[r.type] = r.data.str();
  }
  return items.dump();
}

// --- What the user has on the clipboard ---

// user-copies empty | text JSON | rich JSON | image NAME
SCENARIO_ACTION("user-copies", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().userCopies(contentsFrom(args, 0));
});

// clipboard-notifies-read yes|no: whether the platform can tell when the target read the text.
SCENARIO_ACTION("clipboard-notifies-read", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().notifiesPasteRead = argYes(args, 0);
});

// clipboard-manager recopies 50ms [lands 2s] | none: a clipboard manager that, that long after
// each write of the agent's, reads its plain text and copies it as its own (as clipman does),
// its copy landing at once or that much later.
SCENARIO_ACTION("clipboard-manager", [](ScenarioContext& c, const Args& args) {
  const std::string& what = argWord(args, 0);
  auto& desktop = c.sim.desktop();
  if (what == "none") {
    desktop.managerRecopies.reset();
  } else if (what == "recopies") {
    desktop.managerRecopies = parseDuration(argWord(args, 1));
    desktop.managerLands = args.size() > 3 ? parseDuration(argWord(args, 3)) : Duration{};
  } else {
    throw ScenarioError("clipboard-manager recopies DURATION [lands DURATION] | none");
  }
});

// clipboard-write-fails yes|no: whether another program holds the clipboard so that the agent's
// text cannot be written.
SCENARIO_ACTION("clipboard-write-fails", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().textWriteFails = argYes(args, 0);
});

// clipboard-out-of-memory restore N | text-write: memory runs out in the agent's next N restores
// (before anything is written), or in its next text write (after the text replaced the
// clipboard).
SCENARIO_ACTION("clipboard-out-of-memory", [](ScenarioContext& c, const Args& args) {
  const std::string& where = argWord(args, 0);
  if (where == "restore") {
    c.sim.desktop().restoresOutOfMemory = static_cast<int>(argInt(args, 1));
  } else if (where == "text-write") {
    c.sim.desktop().textWriteOutOfMemory = true;
  } else {
    throw ScenarioError("clipboard-out-of-memory restore N | text-write");
  }
});

// clipboard-tells-writer yes|no: whether the platform can tell who made the clipboard's content.
SCENARIO_ACTION("clipboard-tells-writer", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().tellsWriter = argYes(args, 0);
});

// clipboard-owner-silent: the current content's owner stops answering; it cannot be read.
SCENARIO_ACTION("clipboard-owner-silent",
                [](ScenarioContext& c, const Args&) { c.sim.desktop().ownerFallsSilent(); });

// clipboard-access N: the user's setting for the host's pasteboard access (0 default, 1 ask,
// 2 always allow, 3 always deny).
SCENARIO_ACTION("clipboard-access", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().accessBehavior = argInt(args, 0);
});

// clipboard-read-time 300ms: how long reading one type of the clipboard takes.
SCENARIO_ACTION("clipboard-read-time", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().typeReadTime = parseDuration(argWord(args, 0));
});

// clipboard-type-fails TYPE refused|failed|timed-out|over-budget|malformed|no: how the owner
// answers a read of that type from now on (no: with its bytes).
SCENARIO_ACTION("clipboard-type-fails", [](ScenarioContext& c, const Args& args) {
  static const std::map<std::string, platform::PasteboardReadError> kErrors = {
      {"refused", platform::PasteboardReadError::refused},
      {"failed", platform::PasteboardReadError::failed},
      {"timed-out", platform::PasteboardReadError::timedOut},
      {"over-budget", platform::PasteboardReadError::overBudget},
      {"malformed", platform::PasteboardReadError::malformed}};
  auto& failing = c.sim.desktop().failingTypes;
  const std::string& how = argWord(args, 1);
  if (how == "no") {
    failing.erase(argWord(args, 0));
  } else if (auto it = kErrors.find(how); it != kErrors.end()) {
    failing[argWord(args, 0)] = it->second;
  } else {
    throw ScenarioError("clipboard-type-fails TYPE refused|failed|timed-out|over-budget|...");
  }
});

// clipboard-type-rule PATTERN meta|left-out|kept-when-alone|image-encoding: a rule of the
// simulated backend's list, as a real backend keeps its own.
SCENARIO_ACTION("clipboard-type-rule", [](ScenarioContext& c, const Args& args) {
  static const std::map<std::string, platform::TypeRule> kRules = {
      {"meta", platform::TypeRule::meta},
      {"left-out", platform::TypeRule::leftOut},
      {"kept-when-alone", platform::TypeRule::keptWhenAlone},
      {"image-encoding", platform::TypeRule::imageEncoding}};
  auto rule = kRules.find(argWord(args, 1));
  if (rule == kRules.end()) throw ScenarioError("meta | left-out | kept-when-alone | ...");
  // The pattern outlives the step: the list holds views, as a backend's static table does.
  static std::deque<std::string> patterns;
  patterns.push_back(argWord(args, 0));
  c.sim.desktop().typeRules.push_back({patterns.back(), rule->second, "scenario"});
});

// --- The frontmost application ---

// app-copies selection JSON | nothing | image: what the application does on Command-C.
SCENARIO_ACTION("app-copies", [](ScenarioContext& c, const Args& args) {
  const std::string& what = argWord(args, 0);
  SimDesktop& desktop = c.sim.desktop();
  if (what == "selection") {
    desktop.onCopy = SimDesktop::OnCopy::copiesSelection;
    desktop.selection = textFrom(args, 1);
  } else if (what == "nothing" || what == "image") {
    desktop.onCopy =
        what == "image" ? SimDesktop::OnCopy::copiesImage : SimDesktop::OnCopy::ignores;
  } else {
    throw ScenarioError("app-copies selection JSON | nothing | image");
  }
});

// app-latency 300ms: how long after a chord the application copies, or reads what it pastes.
SCENARIO_ACTION("app-latency", [](ScenarioContext& c, const Args& args) {
  c.sim.desktop().appLatency = parseDuration(argWord(args, 0));
});

// app-reads-again 30ms | no: the application reads the text a second time that long after its
// first read, and pastes what that read gave.
SCENARIO_ACTION("app-reads-again", [](ScenarioContext& c, const Args& args) {
  const std::string& gap = argWord(args, 0);
  auto& again = c.sim.desktop().appReadsAgain;
  again = gap == "no" ? std::nullopt : std::optional(parseDuration(gap));
});

// key-fails down|up: that event of the chord cannot be created.
SCENARIO_ACTION("key-fails", [](ScenarioContext& c, const Args& args) {
  const std::string& which = argWord(args, 0);
  if (which != "down" && which != "up") throw ScenarioError("key-fails down|up");
  (which == "down" ? c.sim.desktop().keyDownCreatable : c.sim.desktop().keyUpCreatable) = false;
});

// input-ends: the host has ended the agent's input (the commands before it still run).
SCENARIO_ACTION("input-ends", [](ScenarioContext& c, const Args&) { c.agent->transfers.hurry(); });

// --- Checks ---

// expect-clipboard empty | text JSON | dictated JSON | item {...} | users-copy | untouched
//   users-copy: what the user last copied, every item and type of it;
//   untouched: that, and nobody has replaced it since (not even with the same content).
SCENARIO_ACTION("expect-clipboard", [](ScenarioContext& c, const Args& args) {
  const SimDesktop& desktop = c.sim.desktop();
  const std::string& form = argWord(args, 0);
  bool users = form == "users-copy" || form == "untouched";
  PasteboardContents expected = users ? desktop.usersCopy() : contentsFrom(args, 0);
  if (desktop.clipboard() != expected) {
    throw ScenarioError("clipboard: expected " + describe(expected) + ", got " +
                        describe(desktop.clipboard()));
  }
  if (form == "untouched") {
    expectEqual(desktop.changeCount(), desktop.changeCountAfterUsersCopy(),
                "change count since the user's copy");
  }
});

// expect-pasted ["a", null]: what the application pasted since the last expect-pasted, in
// order; null where it found no plain text.
SCENARIO_ACTION("expect-pasted", [](ScenarioContext& c, const Args& args) {
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
SCENARIO_ACTION("expect-untouched", [](ScenarioContext& c, const Args&) {
  const SimDesktop& desktop = c.sim.desktop();
  expectEqual(desktop.agentClipboardCalls, 0, "the agent's clipboard calls");
  expectEqual(desktop.eventSourcesCreated, 0, "event sources created");
  expectEqual(desktop.keyboardEventsCreated, 0, "keyboard events created");
});

// expect-chords N: how many chords the agent has posted (key-downs with exactly Command).
SCENARIO_ACTION("expect-chords", [](ScenarioContext& c, const Args& args) {
  long long chords = 0;
  for (const auto& key : c.sim.desktop().postedKeys) {
    if (key.keyDown && key.flags == platform::kFlagCommand) ++chords;
  }
  expectEqual(chords, argInt(args, 0), "chords posted");
});

// expect-transfers-idle: no paste or read is in flight or waiting its turn.
SCENARIO_ACTION("expect-transfers-idle", [](ScenarioContext& c, const Args&) {
  if (!c.agent->transfers.idle()) throw ScenarioError("a transfer is still in flight");
});

// expect-no-pending-work: nothing at all is left for the loop to finish (the simulated
// application's own delayed actions included).
SCENARIO_ACTION("expect-no-pending-work", [](ScenarioContext& c, const Args&) {
  if (c.loop.hasPendingWork()) throw ScenarioError("work is still pending");
});

}  // namespace
}  // namespace deskagent::testing
