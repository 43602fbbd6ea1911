// Which types of a listed clipboard are read, by a backend's rules; the integration (reads,
// verdicts, waits) is in scenarios/clipboard-snapshot.scn.

#include "agent/snapshot_policy.hpp"

#include <gtest/gtest.h>

namespace deskagent {
namespace {

using platform::TypeRule;

const std::vector<platform::PasteboardTypeRule> kRules = {
    {"TARGETS", TypeRule::meta, ""},
    {"promise*", TypeRule::leftOut, ""},
    {"dyn.*", TypeRule::keptWhenAlone, ""},
    {"image/*", TypeRule::imageEncoding, ""},
};

TEST(SnapshotPolicy, ReadsContentInTheOwnersOrderAndOneEncodingOfAnImage) {
  struct Row {
    const char* what;
    std::vector<std::string> offered;
    ItemPlan plan;
  };
  const Row rows[] = {
      {"plain content, a type listed twice read once",
       {"text/plain", "text/html", "text/plain"},
       {{"text/plain", "text/html"}, false}},
      {"meta types are no content", {"TARGETS"}, {{}, false}},
      {"a left-out type is content not saved", {"promise-x", "text/plain"}, {{"text/plain"}, true}},
      {"PNG in its place among the others",
       {"image/jpeg", "text/html", "image/png", "image/bmp"},
       {{"text/html", "image/png"}, true}},
      {"lossless before lossy", {"image/jpeg", "image/x-bmp"}, {{"image/x-bmp"}, true}},
      {"one lossy encoding is the image", {"image/jpeg"}, {{"image/jpeg"}, false}},
      {"a conversion alone is the data",
       {"TARGETS", "dyn.a", "dyn.b"},
       {{"dyn.a", "dyn.b"}, false}},
      {"a conversion beside content is left out", {"dyn.a", "text/plain"}, {{"text/plain"}, true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto plans = planSnapshot(platform::PasteboardListing{{row.offered}, {}}, kRules);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0], row.plan);
  }
}

}  // namespace
}  // namespace deskagent
