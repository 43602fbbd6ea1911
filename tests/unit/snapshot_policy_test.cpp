// Which types of a listed clipboard are read, by a backend's rules (macOS's own among them); the
// integration (reads, verdicts, waits) is in scenarios/clipboard-snapshot.scn.

#include "agent/snapshot_policy.hpp"

#include <gtest/gtest.h>

#include "platform/macos/mac_type_rules.hpp"

namespace deskagent {
namespace {

using platform::TypeRule;

const std::vector<platform::PasteboardTypeRule> kRules = {
    {"TARGETS", TypeRule::meta, ""},
    {"promise*", TypeRule::leftOut, ""},
    {"dyn.*", TypeRule::keptWhenAlone, ""},
    {"image/*", TypeRule::imageEncoding, ""},
};

// One item offering `offered` is read as `plan`.
struct Row {
  const char* what;
  std::vector<std::string> offered;
  ItemPlan plan;
};

void expectPlans(const std::vector<Row>& rows,
                 const std::vector<platform::PasteboardTypeRule>& rules) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto plans = planSnapshot(platform::PasteboardListing{{row.offered}, {}}, rules);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0], row.plan);
  }
}

TEST(SnapshotPolicy, ReadsContentInTheOwnersOrderAndOneEncodingOfAnImage) {
  const std::vector<Row> rows = {
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
  expectPlans(rows, kRules);
}

// macOS lists every name an application wrote without a declared identifier as dyn.…: data
// under a legacy pasteboard name is the only copy of it and is saved; the system's Carbon
// translations are left out beside what they translate; file promises are never read.
TEST(SnapshotPolicy, MacRulesSaveLegacyNamedDataAndLeaveOutTranslationsAndPromises) {
  const std::string webUrlsWithTitles =  // ?0=6:4=WebURLsWithTitlesPboardType
      "dyn.ah62d4rv4gu8zs3pcnzme2641rf4guzdmsv0gn64uqm10c6xenv61a3k";
  const std::string appleUrl =  // ?0=6:4=Apple URL pasteboard type
      "dyn.ah62d4rv4gu8yc6durvwwaznwmuuha2pxsvw0e55bsmwca7d3sbwu";
  const std::string styl = "dyn.ah62d4rv4gk81g7d3ru";  // ?0=6:2=styl
  const std::string ut16 = "dyn.ah62d4rv4gk81n7bvg2";  // ?0=6:2=ut16
  const std::string filesPromise =                     // ?0=6:4=Apple files promise pasteboard type
      "dyn.ah62d4rv4gu8yc6durvwwa3xmrvw1gkdusm1044pxqyuha2pxsvw0e55bsmwca7d3sbwu";
  const std::vector<Row> rows = {
      {"a link with its title under legacy names",
       {"public.url", webUrlsWithTitles, appleUrl, "public.utf8-plain-text"},
       {{"public.url", webUrlsWithTitles, appleUrl, "public.utf8-plain-text"}, false}},
      {"styled text and its Carbon translation",
       {"public.rtf", styl, "public.utf8-plain-text"},
       {{"public.rtf", "public.utf8-plain-text"}, true}},
      {"a Carbon flavor alone is the data", {ut16}, {{ut16}, false}},
      {"file promises, by any name",
       {"com.apple.pasteboard.promised-file-url", filesPromise,
        "com.apple.NSFilePromiseItemMetaData"},
       {{}, true}},
  };
  expectPlans(rows, platform::macTypeRules());
}

}  // namespace
}  // namespace deskagent
