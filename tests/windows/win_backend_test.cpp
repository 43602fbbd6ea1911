// The Windows backend in-process: the keys the host names, the microphone's consent store, and
// the clipboard reader's deadline (what real programs do with the clipboard is the Wine suite's).

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/windows/win_clipboard_reader.hpp"
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

// Serves the loop, and the messages sent to this thread, until `answered` (the reader's thread
// answers in real time).
template <class Answered>
void serveUntil(WinMainLoop& loop, Answered answered) {
  for (int turns = 0; turns < 5000 && !answered(); ++turns) {
    loop.runUntilIdle();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
}

// An owner that promised its text and then serves no message: the read ends as timed out on the
// loop's clock, and what the reader's thread brings once the owner renders is dropped.
HANDLE rendered = nullptr;

LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_RENDERFORMAT) return DefWindowProcW(window, message, wParam, lParam);
  const wchar_t late[] = L"late";
  putGlobal(CF_UNICODETEXT, late, sizeof late);
  SetEvent(rendered);
  return 0;
}

TEST(WindowsClipboard, AnOwnerThatDoesNotAnswerTimesOutAndItsLateAnswerIsDropped) {
  VirtualClock clock;
  WinMainLoop loop(clock);
  ClipboardReader reader(loop);
  rendered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE promised = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ownerProc;
    windowClass.lpszClassName = L"deskagent_test_owner";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"deskagent_test_owner", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, nullptr, nullptr);
    OpenClipboard(window);
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, nullptr);
    CloseClipboard();
    SetEvent(promised);
    WaitForSingleObject(wake, INFINITE);  // stuck: the request to render waits meanwhile
    while (WaitForSingleObject(rendered, 0) != WAIT_OBJECT_0) {
      MsgWaitForMultipleObjects(1, &rendered, FALSE, INFINITE, QS_SENDMESSAGE);
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  });
  WaitForSingleObject(promised, INFINITE);
  int answers = 0;
  std::optional<PasteboardReadError> error;
  reader.read(CF_UNICODETEXT, 1 << 20, std::chrono::seconds(4), [&](PasteboardTypeRead read) {
    ++answers;
    error = read.error;
  });
  advanceVirtualTime(loop, clock, std::chrono::seconds(4));
  EXPECT_EQ(answers, 1);
  EXPECT_EQ(error, PasteboardReadError::timedOut);
  SetEvent(wake);
  owner.join();
  // The thread answers in order: once a later read is answered, the late one has come and gone.
  std::optional<std::string> text;
  reader.readText(std::chrono::seconds(4), [&](std::optional<std::string> t) { text = t; });
  serveUntil(loop, [&] { return text.has_value(); });
  EXPECT_EQ(text, "late");
  EXPECT_EQ(answers, 1);
  for (HANDLE event : {rendered, promised, wake}) CloseHandle(event);
}

}  // namespace
}  // namespace deskagent::platform::windows
