#include "platform/windows/win_clipboard_reader.hpp"

#include <atomic>
#include <chrono>
#include <deque>
#include <new>
#include <unordered_map>
#include <utility>
#include <variant>

#include "platform/windows/win_clipboard_formats.hpp"
#include "platform/windows/win_text.hpp"

namespace deskagent::platform::windows {
namespace {

// Another program (a clipboard manager, Wine's bridge to X11 while it fetches) may hold the
// clipboard open for a while: it is asked again this often, for at most this long.
constexpr DWORD kOpenRetryMs = 10;
constexpr DWORD kOpenPatienceMs = 1000;
// Listing asks no owner for anything: the open's patience and a margin.
constexpr Duration kListPatience = std::chrono::milliseconds(2000);
// How long the reader's end waits for its thread, which is idle unless an owner holds it.
constexpr DWORD kStopWaitMs = 100;

using Answer = ReaderAnswer;

bool openClipboard() {
  for (DWORD waited = 0;; waited += kOpenRetryMs) {
    if (OpenClipboard(nullptr)) return true;
    if (waited >= kOpenPatienceMs) return false;
    Sleep(kOpenRetryMs);
  }
}

}  // namespace

// Shared by the main loop's side and the reader thread, which may outlive the reader.
struct ReaderState {
  CRITICAL_SECTION lock;
  // Win32 events rather than the MinGW library's condition variables, whose waits can miss a
  // wake-up.
  HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::deque<std::function<void(ReaderState&)>> jobs;
  MainLoop* loop = nullptr;  // null once the reader is gone: nothing more is posted
  bool stopping = false;
  std::atomic<std::int64_t> renderedChanges{0};

  ReaderState() { InitializeCriticalSection(&lock); }
  ~ReaderState() {
    DeleteCriticalSection(&lock);
    if (wake != nullptr) CloseHandle(wake);
  }
  ReaderState(const ReaderState&) = delete;
  ReaderState& operator=(const ReaderState&) = delete;

  void post(Task task) {
    EnterCriticalSection(&lock);
    if (loop != nullptr) loop->post(std::move(task));
    LeaveCriticalSection(&lock);
  }

  // The data of one format, the clipboard open on this thread. An owner renders what it promised
  // inside GetClipboardData, which moves the sequence number without changing the content.
  PasteboardTypeRead readOpen(UINT format, std::size_t maxBytes) {
    DWORD before = GetClipboardSequenceNumber();
    HANDLE data = GetClipboardData(format);
    renderedChanges += static_cast<DWORD>(GetClipboardSequenceNumber() - before);
    if (data == nullptr) return {{}, PasteboardReadError::refused};
    std::size_t size = GlobalSize(data);
    if (size > maxBytes) return {{}, PasteboardReadError::overBudget};
    const auto* bytes = static_cast<const char*>(GlobalLock(data));
    if (bytes == nullptr) return {{}, PasteboardReadError::failed};
    PasteboardTypeRead read;
    try {
      read.bytes = std::string(bytes, size);
    } catch (const std::bad_alloc&) {
      read.error = PasteboardReadError::failed;
    }
    GlobalUnlock(data);
    return read;
  }
};

// The answers still awaited, on the main loop's side: what the thread brings is matched here by
// number, so the thread never holds, or lets go of, a caller's callback.
class AwaitedAnswers : public std::enable_shared_from_this<AwaitedAnswers> {
 public:
  explicit AwaitedAnswers(MainLoop& loop) : loop_(loop) {}

  std::uint64_t add(Duration patience, Answer timedOut, std::function<void(Answer)> deliver) {
    std::uint64_t id = ++last_;
    std::weak_ptr<AwaitedAnswers> weak = weak_from_this();
    TimerId deadline = loop_.postDelayed(patience, [weak, id, timedOut = std::move(timedOut)] {
      if (auto self = weak.lock()) self->answer(id, timedOut);
    });
    pending_.emplace(id, Pending{std::move(deliver), deadline});
    return id;
  }

  void answer(std::uint64_t id, Answer answer) {
    auto it = pending_.find(id);
    if (it == pending_.end()) return;  // answered already, or dropped
    Pending pending = std::move(it->second);
    pending_.erase(it);
    loop_.cancel(pending.deadline);
    pending.deliver(std::move(answer));
  }

  void dropAll() {
    for (auto& [id, pending] : pending_) loop_.cancel(pending.deadline);
    pending_.clear();
  }

 private:
  struct Pending {
    std::function<void(Answer)> deliver;
    TimerId deadline;
  };
  MainLoop& loop_;
  std::uint64_t last_ = 0;
  std::unordered_map<std::uint64_t, Pending> pending_;
};

namespace {

DWORD WINAPI serve(void* parameter) {
  auto* handed = static_cast<std::shared_ptr<ReaderState>*>(parameter);
  std::shared_ptr<ReaderState> state = std::move(*handed);
  delete handed;
  for (;;) {
    EnterCriticalSection(&state->lock);
    while (state->jobs.empty() && !state->stopping) {
      LeaveCriticalSection(&state->lock);
      WaitForSingleObject(state->wake, INFINITE);
      EnterCriticalSection(&state->lock);
    }
    if (state->stopping) {
      LeaveCriticalSection(&state->lock);
      return 0;
    }
    auto job = std::move(state->jobs.front());
    state->jobs.pop_front();
    LeaveCriticalSection(&state->lock);
    job(*state);
  }
}

}  // namespace

ClipboardReader::ClipboardReader(MainLoop& loop)
    : loop_(loop),
      state_(std::make_shared<ReaderState>()),
      awaited_(std::make_shared<AwaitedAnswers>(loop)) {
  state_->loop = &loop;
  auto* handed = new std::shared_ptr<ReaderState>(state_);
  thread_ = CreateThread(nullptr, 0, &serve, handed, 0, nullptr);
  if (thread_ == nullptr) delete handed;
}

ClipboardReader::~ClipboardReader() {
  awaited_->dropAll();
  EnterCriticalSection(&state_->lock);
  state_->loop = nullptr;
  state_->stopping = true;
  state_->jobs.clear();
  LeaveCriticalSection(&state_->lock);
  SetEvent(state_->wake);
  if (thread_ != nullptr) {
    // A thread stuck in an owner's rendering ends with the process, which it does not hold up.
    WaitForSingleObject(thread_, kStopWaitMs);
    CloseHandle(thread_);
  }
}

void ClipboardReader::ask(Duration patience, Answer timedOut,
                          std::function<Answer(ReaderState&)> work,
                          std::function<void(Answer)> deliver) {
  if (thread_ == nullptr) {
    loop_.post(
        [deliver = std::move(deliver), timedOut = std::move(timedOut)] { deliver(timedOut); });
    return;
  }
  std::uint64_t id = awaited_->add(patience, std::move(timedOut), std::move(deliver));
  std::weak_ptr<AwaitedAnswers> awaited = awaited_;
  EnterCriticalSection(&state_->lock);
  state_->jobs.push_back([awaited, id, work = std::move(work)](ReaderState& state) {
    Answer answer = work(state);
    state.post([awaited, id, answer = std::move(answer)]() mutable {
      if (auto self = awaited.lock()) self->answer(id, std::move(answer));
    });
  });
  LeaveCriticalSection(&state_->lock);
  SetEvent(state_->wake);
}

void ClipboardReader::list(PasteboardListingCallback done) {
  ask(
      kListPatience, PasteboardListing{{}, PasteboardReadError::timedOut},
      [](ReaderState&) -> Answer {
        if (!openClipboard()) return PasteboardListing{{}, PasteboardReadError::failed};
        std::vector<std::string> types;
        for (UINT format = EnumClipboardFormats(0); format != 0;
             format = EnumClipboardFormats(format)) {
          types.push_back(formatName(format));
        }
        CloseClipboard();
        PasteboardListing listing;
        if (!types.empty()) listing.items.push_back(std::move(types));
        return listing;
      },
      [done = std::move(done)](Answer answer) {
        done(std::get<PasteboardListing>(std::move(answer)));
      });
}

void ClipboardReader::read(UINT format, std::size_t maxBytes, Duration patience,
                           PasteboardTypeCallback done) {
  ask(
      patience, PasteboardTypeRead{{}, PasteboardReadError::timedOut},
      [format, maxBytes](ReaderState& state) -> Answer {
        if (!openClipboard()) return PasteboardTypeRead{{}, PasteboardReadError::failed};
        PasteboardTypeRead read = state.readOpen(format, maxBytes);
        CloseClipboard();
        return read;
      },
      [done = std::move(done)](Answer answer) {
        done(std::get<PasteboardTypeRead>(std::move(answer)));
      });
}

void ClipboardReader::readText(Duration patience, PasteboardTextCallback done) {
  ask(
      patience, std::optional<std::string>(),
      [](ReaderState& state) -> Answer {
        if (!openClipboard()) return std::optional<std::string>();
        PasteboardTypeRead read = state.readOpen(CF_UNICODETEXT, SIZE_MAX);
        CloseClipboard();
        if (read.error) return std::optional<std::string>();
        return std::optional<std::string>(textOfUnicode(read.bytes.str()));
      },
      [done = std::move(done)](Answer answer) {
        done(std::get<std::optional<std::string>>(std::move(answer)));
      });
}

void ClipboardReader::cancel() {
  awaited_->dropAll();
  EnterCriticalSection(&state_->lock);
  state_->jobs.clear();
  LeaveCriticalSection(&state_->lock);
}

std::int64_t ClipboardReader::renderedChanges() const {
  return state_->renderedChanges.load();
}

}  // namespace deskagent::platform::windows
