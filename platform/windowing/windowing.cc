// The windowing core: window classes, this process's windows, the posted
// message queue, the hand-over of posts from other threads, timers and the
// message loop, over a backend (X11 or headless). Also the headless backend
// and its test interface.
#include "platform/windowing/windowing.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/syscalls.h"
#include "platform/windowing/backend.h"
#include "platform/windowing/headless.h"

namespace kel3 {

std::unique_ptr<WindowingBackendImpl> MakeX11Backend();

namespace {

constexpr UINT kMinimumTimer = 10;  // ms, as the platform rounds tiny periods up

std::string Fold(const char* text) {
  std::string out = text != nullptr ? text : "";
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

struct WindowInfo {
  std::string className;
  std::string title;
  WNDPROC proc = nullptr;
  bool visible = false;
  bool destroying = false;
  uint64_t order = 0;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  uint64_t due;
  uint64_t order;
  TIMERPROC proc;
};

// The loop's wake-up pipe. The loop thread sleeps in poll() on the X
// connection and the pipe's read end; a post from another thread (a worker
// that finished, say) writes one byte so that the loop notices it now and
// not at its next timer tick, seconds later.
class WakePipe {
 public:
  WakePipe() = default;
  ~WakePipe() {
    if (read_ >= 0) Sys().close(read_);
    const int w = write_.exchange(-1);
    if (w >= 0) Sys().close(w);
  }
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;

  // Creates the pipe on first use (loop thread). False, having said why on
  // standard error once, when it cannot be made (no descriptors left).
  bool Open() {
    if (read_ >= 0) return true;
    int fds[2];
    if (Sys().pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
      if (!complained_) {
        std::fprintf(stderr, "kel3: cannot create the message loop's wake-up pipe: %s\n",
                     std::strerror(errno));
        complained_ = true;
      }
      return false;
    }
    read_ = fds[0];
    write_.store(fds[1]);
    return true;
  }
  int readFd() const { return read_; }

  // Any thread. A full pipe (EAGAIN) already holds a wake-up, so a failed
  // write loses nothing.
  void Wake() {
    const int fd = write_.load();
    if (fd < 0) return;
    const char byte = 1;
    const ssize_t n = Sys().write(fd, &byte, 1);
    (void)n;
  }

 private:
  int read_ = -1;
  std::atomic<int> write_{-1};
  bool complained_ = false;
};

struct ForeignWindow {
  std::string className;
  std::string title;
};

class HeadlessBackend;

struct State {
  // The thread that first used the layer runs the message loop; every call
  // but PostMessageA and PostQuitMessage belongs on it.
  std::thread::id loopThread = std::this_thread::get_id();
  WindowingBackend kind = WindowingBackend::kX11;
  std::unique_ptr<WindowingBackendImpl> backend;
  std::map<std::string, WNDCLASSA> classes;       // by folded name
  std::map<std::string, std::string> classNames;  // folded -> as registered
  std::map<HWND, WindowInfo> windows;
  std::deque<MSG> queue;
  std::vector<Timer> timers;
  uint64_t counter = 0;
  UINT_PTR nextThreadTimer = 0x7FFF;
  WakePipe wake;
  // Posts from other threads, waiting for the loop thread.
  std::mutex inboxMutex;
  std::vector<MSG> inbox;
  // Headless bookkeeping.
  uint64_t virtualClock = 0;
  uint32_t nextHeadlessWindow = 0x00A00001;
  std::vector<headless::PostRecord> posted;
  std::map<HWND, ForeignWindow> foreign;
};

State& S() {
  static auto* state = new State();
  return *state;
}

uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

class HeadlessBackend : public WindowingBackendImpl {
 public:
  bool Ready() override { return true; }
  HWND CreateNative(const std::string&, const std::string&) override {
    // Handles are numbers here as on X11 (window ids), never addresses.
    return reinterpret_cast<HWND>(  // NOLINT(performance-no-int-to-ptr)
        static_cast<UINT_PTR>(S().nextHeadlessWindow++));
  }
  void DestroyNative(HWND) override {}
  void ShowNative(HWND, int) override {}
  bool Exists(HWND hwnd) override { return S().foreign.count(hwnd) != 0; }
  HWND Find(const char* className, const char* title) override {
    const std::string cls = Fold(className);
    auto matches = [&](const std::string& c, const std::string& t) {
      return (className == nullptr || Fold(c.c_str()) == cls) && (title == nullptr || t == title);
    };
    HWND best = nullptr;
    uint64_t bestOrder = UINT64_MAX;
    for (const auto& [hwnd, info] : S().windows) {
      if (!info.destroying && matches(info.className, info.title) && info.order < bestOrder) {
        best = hwnd;
        bestOrder = info.order;
      }
    }
    if (best != nullptr) return best;
    for (const auto& [hwnd, info] : S().foreign) {
      if (matches(info.className, info.title)) return hwnd;
    }
    return nullptr;
  }
  bool PostToOther(HWND hwnd, UINT, WPARAM, LPARAM) override { return Exists(hwnd); }
  bool WaitAndPump(int, int) override { return true; }
};

WindowingBackendImpl* Backend() {
  State& s = S();
  if (!s.backend) {
    if (s.kind == WindowingBackend::kHeadless) {
      s.backend = std::make_unique<HeadlessBackend>();
    } else {
      s.backend = MakeX11Backend();
    }
  }
  return s.backend.get();
}

bool IsHeadless() {
  return S().kind == WindowingBackend::kHeadless;
}

// What the loop needs before it may sleep: the window system, and on X11
// the wake-up pipe that other threads' posts write to.
bool LoopReady() {
  if (!Backend()->Ready()) return false;
  return IsHeadless() || S().wake.Open();
}

bool OnLoopThread() {
  return std::this_thread::get_id() == S().loopThread;
}

// Another thread's post: parked in the inbox, then the loop is woken. The
// loop thread takes it from there as if it had been posted there.
void HandOver(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  {
    std::lock_guard<std::mutex> lock(s.inboxMutex);
    s.inbox.push_back(MSG{hwnd, msg, wParam, lParam, 0, {0, 0}});
  }
  s.wake.Wake();
}

void DeliverInbox() {
  State& s = S();
  std::vector<MSG> incoming;
  {
    std::lock_guard<std::mutex> lock(s.inboxMutex);
    incoming.swap(s.inbox);
  }
  for (const MSG& m : incoming) {
    if (m.hwnd == nullptr && m.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(m.wParam));
    } else {
      PostMessageA(m.hwnd, m.message, m.wParam, m.lParam);
    }
  }
}

WindowInfo* Own(HWND hwnd) {
  auto it = S().windows.find(hwnd);
  return it == S().windows.end() ? nullptr : &it->second;
}

// Queues WM_TIMER for the earliest due timer, if any is due; re-arms it one
// period from now.
bool QueueDueTimer(uint64_t now) {
  Timer* earliest = nullptr;
  for (Timer& t : S().timers) {
    if (t.due <= now && (earliest == nullptr || t.due < earliest->due ||
                         (t.due == earliest->due && t.order < earliest->order))) {
      earliest = &t;
    }
  }
  if (earliest == nullptr) return false;
  MSG m{};
  m.hwnd = earliest->hwnd;
  m.message = WM_TIMER;
  m.wParam = earliest->id;
  m.lParam = reinterpret_cast<LPARAM>(earliest->proc);
  m.time = static_cast<DWORD>(now);
  S().queue.push_back(m);
  earliest->due = now + earliest->elapse;
  return true;
}

// Milliseconds until the next timer falls due; -1 with no timer.
int64_t UntilNextTimer(uint64_t now) {
  int64_t best = -1;
  for (const Timer& t : S().timers) {
    const int64_t wait = t.due > now ? static_cast<int64_t>(t.due - now) : 0;
    if (best < 0 || wait < best) best = wait;
  }
  return best;
}

enum class FetchResult { kMessage, kQuit, kBroken, kStopped };

// The heart of the loop: posted messages first, then window-system input,
// then a due timer; sleeps in the backend until something can arrive.
FetchResult Fetch(MSG* out, const std::function<bool()>* stop) {
  State& s = S();
  for (;;) {
    DeliverInbox();
    if (!s.queue.empty()) {
      *out = s.queue.front();
      s.queue.pop_front();
      return out->message == WM_QUIT ? FetchResult::kQuit : FetchResult::kMessage;
    }
    if (stop != nullptr && (*stop)()) return FetchResult::kStopped;
    WindowingBackendImpl* backend = Backend();
    if (!LoopReady()) return FetchResult::kBroken;
    if (!backend->WaitAndPump(0, -1)) return FetchResult::kBroken;
    if (!s.queue.empty()) continue;
    if (stop != nullptr && (*stop)()) return FetchResult::kStopped;
    const uint64_t now = LoopClockMs();
    if (QueueDueTimer(now)) continue;
    const int64_t wait = UntilNextTimer(now);
    if (IsHeadless()) {
      // Nothing can arrive from outside: jump to the next timer, or give up.
      if (wait < 0) return FetchResult::kBroken;
      s.virtualClock += static_cast<uint64_t>(wait);
      continue;
    }
    const int timeout = wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT32_MAX));
    if (!backend->WaitAndPump(timeout, s.wake.readFd())) return FetchResult::kBroken;
  }
}

}  // namespace

void SelectWindowingBackend(WindowingBackend backend) {
  State& s = S();
  if (s.kind != backend) s.backend.reset();
  s.kind = backend;
}

WindowingBackend CurrentWindowingBackend() {
  return S().kind;
}

uint64_t LoopClockMs() {
  return IsHeadless() ? S().virtualClock : MonotonicMs();
}

void QueueFromBackend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = hwnd;
  m.message = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = static_cast<DWORD>(LoopClockMs());
  S().queue.push_back(m);
}

void RunModalLoop(const std::function<bool()>& done) {
  MSG msg;
  for (;;) {
    const FetchResult r = Fetch(&msg, &done);
    if (r == FetchResult::kMessage) {
      DispatchMessageA(&msg);
      continue;
    }
    if (r == FetchResult::kQuit) S().queue.push_front(msg);  // for the outer loop
    return;
  }
}

namespace headless {

void Reset() {
  State& s = S();
  s.classes.clear();
  s.classNames.clear();
  s.windows.clear();
  s.queue.clear();
  s.timers.clear();
  s.posted.clear();
  s.foreign.clear();
  s.virtualClock = 0;
  s.nextHeadlessWindow = 0x00A00001;
}

std::vector<WindowRecord> Windows() {
  std::vector<std::pair<uint64_t, WindowRecord>> sorted;
  for (const auto& [hwnd, info] : S().windows) {
    sorted.push_back({info.order, WindowRecord{hwnd, info.className, info.title, info.visible}});
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<WindowRecord> out;
  out.reserve(sorted.size());
  for (auto& [order, record] : sorted) out.push_back(record);
  return out;
}

std::vector<TimerRecord> Timers() {
  std::vector<Timer> sorted = S().timers;
  std::sort(sorted.begin(), sorted.end(),
            [](const Timer& a, const Timer& b) { return a.order < b.order; });
  std::vector<TimerRecord> out;
  out.reserve(sorted.size());
  for (const Timer& t : sorted) out.push_back(TimerRecord{t.hwnd, t.id, t.elapse});
  return out;
}

std::vector<PostRecord> Posted() {
  return S().posted;
}
void ClearPosted() {
  S().posted.clear();
}

bool FireTimer(HWND hwnd, UINT_PTR id) {
  for (const Timer& t : S().timers) {
    if (t.hwnd == hwnd && t.id == id) {
      QueueFromBackend(hwnd, WM_TIMER, id, reinterpret_cast<LPARAM>(t.proc));
      return true;
    }
  }
  return false;
}

void AdvanceClock(uint64_t milliseconds) {
  State& s = S();
  const uint64_t end = s.virtualClock + milliseconds;
  for (;;) {
    const int64_t wait = UntilNextTimer(s.virtualClock);
    if (wait < 0 || s.virtualClock + static_cast<uint64_t>(wait) > end) break;
    s.virtualClock += static_cast<uint64_t>(wait);
    QueueDueTimer(s.virtualClock);
  }
  s.virtualClock = end;
}

uint64_t Clock() {
  return S().virtualClock;
}

int DispatchPending() {
  int count = 0;
  State& s = S();
  while (!s.queue.empty() && s.queue.front().message != WM_QUIT) {
    MSG m = s.queue.front();
    s.queue.pop_front();
    DispatchMessageA(&m);
    ++count;
  }
  return count;
}

bool QuitQueued(int* exitCode) {
  for (const MSG& m : S().queue) {
    if (m.message == WM_QUIT) {
      if (exitCode != nullptr) *exitCode = static_cast<int>(m.wParam);
      return true;
    }
  }
  return false;
}

void AddForeignWindow(HWND hwnd, const std::string& className, const std::string& title) {
  S().foreign[hwnd] = ForeignWindow{className, title};
}

void RemoveForeignWindow(HWND hwnd) {
  S().foreign.erase(hwnd);
}

}  // namespace headless
}  // namespace kel3

using kel3::S;

WORD RegisterClassA(const WNDCLASSA* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || *wc->lpszClassName == '\0' ||
      wc->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string key = kel3::Fold(wc->lpszClassName);
  if (S().classes.count(key) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  WNDCLASSA copy = *wc;
  S().classNames[key] = wc->lpszClassName;
  copy.lpszClassName = nullptr;  // the stored name above outlives the caller's
  copy.lpszMenuName = nullptr;
  S().classes[key] = copy;
  return static_cast<WORD>(0xC000 + S().classes.size());
}

HWND CreateWindowExA(DWORD /*exStyle*/, LPCSTR className, LPCSTR windowName, DWORD /*style*/,
                     int /*x*/, int /*y*/, int /*width*/, int /*height*/, HWND /*parent*/,
                     HMENU /*menu*/, HINSTANCE /*instance*/, LPVOID /*param*/) {
  auto cls = S().classes.find(kel3::Fold(className));
  if (className == nullptr || cls == S().classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return nullptr;
  }
  kel3::WindowingBackendImpl* backend = kel3::Backend();
  if (!kel3::LoopReady()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  const std::string registered = S().classNames[kel3::Fold(className)];
  const std::string title = windowName != nullptr ? windowName : "";
  HWND hwnd = backend->CreateNative(registered, title);
  if (hwnd == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  kel3::WindowInfo info;
  info.className = registered;
  info.title = title;
  info.proc = cls->second.lpfnWndProc;
  info.order = ++S().counter;
  S().windows[hwnd] = info;
  if (info.proc(hwnd, WM_CREATE, 0, 0) == -1) {
    DestroyWindow(hwnd);
    return nullptr;
  }
  return hwnd;
}

BOOL DestroyWindow(HWND hwnd) {
  kel3::WindowInfo* info = kel3::Own(hwnd);
  if (info == nullptr || info->destroying) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  info->destroying = true;
  // The window's timers die with it, before its procedure hears of it, so
  // a WM_DESTROY handler sees no tick of its own window any more.
  auto& timers = S().timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [hwnd](const kel3::Timer& t) { return t.hwnd == hwnd; }),
               timers.end());
  info->proc(hwnd, WM_DESTROY, 0, 0);
  S().windows.erase(hwnd);
  kel3::Backend()->DestroyNative(hwnd);
  return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (msg == WM_CLOSE) DestroyWindow(hwnd);
  return 0;
}

BOOL ShowWindow(HWND hwnd, int cmdShow) {
  kel3::WindowInfo* info = kel3::Own(hwnd);
  if (info == nullptr) return FALSE;
  const bool was = info->visible;
  info->visible = cmdShow != SW_HIDE;
  kel3::Backend()->ShowNative(hwnd, cmdShow);
  return was ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  return kel3::Own(hwnd) != nullptr ? TRUE : FALSE;
}

BOOL IsWindow(HWND hwnd) {
  if (hwnd == nullptr) return FALSE;
  kel3::WindowInfo* info = kel3::Own(hwnd);
  if (info != nullptr) return TRUE;
  kel3::WindowingBackendImpl* backend = kel3::Backend();
  return backend->Ready() && backend->Exists(hwnd) ? TRUE : FALSE;
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  kel3::WindowingBackendImpl* backend = kel3::Backend();
  if (!backend->Ready()) return nullptr;
  return backend->Find(className, windowName);
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!kel3::OnLoopThread()) {
    kel3::HandOver(hwnd, msg, wParam, lParam);
    return TRUE;
  }
  if (kel3::IsHeadless()) S().posted.push_back({hwnd, msg, wParam, lParam});
  if (hwnd == nullptr || kel3::Own(hwnd) != nullptr) {
    kel3::QueueFromBackend(hwnd, msg, wParam, lParam);
    return TRUE;
  }
  kel3::WindowingBackendImpl* backend = kel3::Backend();
  if (!backend->Ready() || !backend->PostToOther(hwnd, msg, wParam, lParam)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  kel3::WindowInfo* info = kel3::Own(hwnd);
  if (info == nullptr) {
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return info->proc(hwnd, msg, wParam, lParam);
}

BOOL GetMessageA(LPMSG msg, HWND /*hwnd*/, UINT /*filterMin*/, UINT /*filterMax*/) {
  if (msg == nullptr) return -1;
  switch (kel3::Fetch(msg, nullptr)) {
    case kel3::FetchResult::kMessage:
      return TRUE;
    case kel3::FetchResult::kQuit:
      return FALSE;
    default:
      return -1;
  }
}

BOOL TranslateMessage(const MSG* /*msg*/) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    // A timer with a procedure: call the procedure armed for this window
    // and id, never the address the message carries (a WM_TIMER posted by
    // another process brings an lParam of its choosing).
    for (const kel3::Timer& t : S().timers) {
      if (t.hwnd == msg->hwnd && t.id == msg->wParam && t.proc != nullptr &&
          reinterpret_cast<LPARAM>(t.proc) == msg->lParam) {
        TIMERPROC proc = t.proc;
        proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
      }
    }
    if (msg->hwnd == nullptr) return 0;
  }
  kel3::WindowInfo* info = kel3::Own(msg->hwnd);
  if (info == nullptr || info->destroying) return 0;
  return info->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
  if (!kel3::OnLoopThread()) {
    kel3::HandOver(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
    return;
  }
  if (kel3::IsHeadless()) {
    S().posted.push_back({nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
  }
  kel3::QueueFromBackend(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (hwnd != nullptr && kel3::Own(hwnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (elapse < kel3::kMinimumTimer) elapse = kel3::kMinimumTimer;
  const uint64_t due = kel3::LoopClockMs() + elapse;
  for (kel3::Timer& t : S().timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.elapse = elapse;
      t.due = due;
      t.proc = proc;
      return id;
    }
  }
  // Without a window the id is the layer's choice, unless it re-arms an
  // existing timer of the thread (above).
  if (hwnd == nullptr) id = ++S().nextThreadTimer;
  S().timers.push_back(kel3::Timer{hwnd, id, elapse, due, ++S().counter, proc});
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  auto& timers = S().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const kel3::Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  // A tick already queued for it is dropped too: after KillTimer returns
  // the window hears no more of this timer.
  auto& queue = S().queue;
  queue.erase(std::remove_if(queue.begin(), queue.end(),
                             [&](const MSG& m) {
                               return m.message == WM_TIMER && m.hwnd == hwnd && m.wParam == id;
                             }),
              queue.end());
  return TRUE;
}
