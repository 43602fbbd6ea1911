// The Windows backend in-process: the keys the host names, the microphone's consent store, and
// the clipboard as the transfers use it.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/windows/win_clipboard.hpp"
#include "platform/windows/win_keys.hpp"
#include "platform/windows/win_main_loop.hpp"
#include "platform/windows/win_permissions.hpp"

namespace deskagent::platform::windows {
namespace {

TEST(WindowsKeys, SidedAndGenericVirtualKeysMapToTheHostsCodes) {
  struct Row {
    HookedKey key;
    std::optional<std::int64_t> mac;
  };
  const Row rows[] = {
      {{VK_LSHIFT, 0x2A, false}, 56},
      {{VK_RSHIFT, 0x36, false}, 60},
      {{VK_LCONTROL, 0x1D, false}, 59},
      {{VK_RCONTROL, 0x1D, true}, 62},
      {{VK_LMENU, 0x38, false}, 58},
      {{VK_RMENU, 0x38, true}, 61},
      {{VK_LWIN, 0x5B, true}, 55},
      {{VK_RWIN, 0x5C, true}, 54},
      {{VK_CAPITAL, 0x3A, false}, 57},
      // The generic keys, told apart by scan code and the extended flag.
      {{VK_SHIFT, 0x2A, false}, 56},
      {{VK_SHIFT, 0x36, false}, 60},
      {{VK_CONTROL, 0x1D, false}, 59},
      {{VK_CONTROL, 0x1D, true}, 62},
      {{VK_MENU, 0x38, false}, 58},
      {{VK_MENU, 0x38, true}, 61},
      // The Control that AltGr layouts send ahead of Right Alt is no key of the user's.
      {{VK_LCONTROL, 0x21D, false}, std::nullopt},
      {{'V', 0x2F, false}, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(macKeyCodeForVirtualKey(row.key), row.mac) << "vk " << row.key.vk;
  }
  EXPECT_EQ(virtualKeyForMacKeyCode(61), static_cast<std::uint32_t>(VK_RMENU));
  EXPECT_EQ(virtualKeyForMacKeyCode(63), 0u);  // Fn: Windows never sees it
}

TEST(WindowsMicrophone, ConsentStoreToStatus) {
  struct Row {
    MicrophoneConsent consent;
    std::int64_t status;
  };
  const Row rows[] = {
      {{}, 0},
      {{std::nullopt, std::nullopt, L"Allow"}, 3},
      {{std::nullopt, L"Allow", std::nullopt}, 3},
      {{std::nullopt, std::nullopt, L"Deny"}, 2},
      {{std::nullopt, L"Deny", L"Allow"}, 2},  // off for the whole machine
      {{2u, L"Allow", L"Allow"}, 1},           // a policy decides
      {{1u, std::nullopt, L"Deny"}, 1},
      {{0u, std::nullopt, L"Allow"}, 3},  // 0: the policy leaves it to the user
  };
  for (const auto& row : rows) EXPECT_EQ(microphoneStatus(row.consent), row.status);
}

void putGlobal(UINT format, const void* data, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  std::memcpy(GlobalLock(memory), data, size);
  GlobalUnlock(memory);
  SetClipboardData(format, memory);
}

TEST(WindowsClipboard, ThePromisedTextTellsOfItsReadAndTheSnapshotComesBackWholeIfNeedBeLater) {
  VirtualClock clock;
  WinMainLoop loop(clock);
  Clipboard clipboard(loop);
  ASSERT_TRUE(clipboard.ready());
  // The user's copy: Unicode text and a registered format, as an application writes them.
  const std::wstring text = L"the user's \u2713";
  const std::string html = "Version:0.9\r\n<b>bold</b>";
  UINT htmlFormat = RegisterClipboardFormatW(L"HTML Format");
  const std::int64_t before = clipboard.changeCount();
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  putGlobal(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  putGlobal(htmlFormat, html.data(), html.size());
  CloseClipboard();
  EXPECT_NE(clipboard.changeCount(), before);  // another program's copy, which a restore spares
  // Saved as the agent saves it: every format listed, each read.
  PasteboardContents saved{{{}}};
  auto listing = clipboard.listing();
  ASSERT_EQ(listing.items.size(), 1u);
  for (const auto& type : listing.items.front()) {
    auto read = clipboard.readType(type, {1 << 20, {}, {}});
    if (!read.error) saved.items.front().representations.push_back({type, read.bytes});
  }

  bool read = false;
  ASSERT_TRUE(clipboard.setTextNotifyingRead("dictated \xe2\x9c\x93", [&] { read = true; }));
  std::int64_t written = clipboard.changeCount();
  for (const wchar_t* mark : {L"ExcludeClipboardContentFromMonitorProcessing",
                              L"CanIncludeInClipboardHistory", L"CanUploadToCloudClipboard"}) {
    EXPECT_TRUE(IsClipboardFormatAvailable(RegisterClipboardFormatW(mark)));
  }
  loop.runUntilIdle();
  EXPECT_FALSE(read);  // promised, not yet asked for
  EXPECT_EQ(clipboard.text(), "dictated \xe2\x9c\x93");
  loop.runUntilIdle();
  EXPECT_TRUE(read);
  EXPECT_EQ(clipboard.changeCount(), written);  // rendering is no change of content

  clipboard.setContents(saved);
  EXPECT_EQ(clipboard.text(), "the user's \xe2\x9c\x93");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE restored = GetClipboardData(htmlFormat);
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(GlobalLock(restored)), html.size()), html);
  GlobalUnlock(restored);
  CloseClipboard();

  // A restore that finds the clipboard held open by another thread (as a clipboard manager
  // might hold it) until told comes a little later.
  ASSERT_TRUE(clipboard.setTextNotifyingRead("dictated again", [] {}));
  // Win32 events, not std::latch: the MinGW library's waits can miss a wake-up and hang.
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    OpenClipboard(nullptr);
    SetEvent(held);
    WaitForSingleObject(release, INFINITE);
    CloseClipboard();
  });
  WaitForSingleObject(held, INFINITE);
  // Nor can a paste's text be written: the paste is then refused (not a chord over the user's).
  EXPECT_FALSE(clipboard.setTextNotifyingRead("not written", [] {}));
  clipboard.setContents(saved);  // waits out its patience, then leaves the restore for later
  SetEvent(release);
  holder.join();
  CloseHandle(held);
  CloseHandle(release);
  advanceVirtualTime(loop, clock, std::chrono::seconds(1));
  EXPECT_EQ(clipboard.text(), "the user's \xe2\x9c\x93");
}

}  // namespace
}  // namespace deskagent::platform::windows
