// A dialog on the program's real templates that records what reaches its
// handlers, for the tests of the Win32 dialog layer. The test's thread runs
// it modally; helper threads act on it meanwhile and wait, with deadlines,
// for what it has recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog.h"

namespace win32test {

// Every wait of these tests, in real time: long enough for a slow machine,
// short enough that a lost message fails the test instead of hanging it.
inline constexpr std::chrono::milliseconds kDeadline{20000};
inline constexpr uint32_t kDeadlineMs = 20000;

// The result DoModal returns when the watchdog had to end a dialog.
inline constexpr int kWatchdogResult = -99;

// How many times `event` was recorded.
inline int Count(const std::vector<std::string>& events, const std::string& event) {
  int n = 0;
  for (const std::string& e : events) n += e == event ? 1 : 0;
  return n;
}

class RecordingDialog : public ui::Dialog {
 public:
  explicit RecordingDialog(int templateId, ui::WindowHandle parent = ui::NoWindow) : Dialog(templateId, parent) {}

  // Hooks, run on the UI thread: after the base OnInitDialog; for a command
  // (true: handled); for a system command (true: handled); for a paint
  // (true: painted).
  std::function<void(RecordingDialog&)> onInit;
  std::function<bool(uint32_t)> onCommand;
  std::function<bool(uint32_t)> onSysCommand;
  std::function<bool()> onPaint;
  ui::IconHandle dragIcon = 0;

  // Members of the data exchange: control 1000's window and text, the text
  // of combo box 1001.
  ui::WindowHandle status = ui::NoWindow;
  std::string statusText;
  std::string folder;
  bool exchange = false;  // the exchange runs only in the dialogs that want it

  // Runs the dialog; a watchdog ends it with kWatchdogResult after the
  // deadline.
  int RunModal() {
    bool done = false;
    std::thread watchdog([&] {
      std::unique_lock lock(mutex_);
      if (!changed_.wait_for(lock, kDeadline, [&] { return done; })) {
        lock.unlock();
        EndDialog(kWatchdogResult);
      }
    });
    const int result = DoModal();
    {
      std::lock_guard lock(mutex_);
      done = true;
    }
    changed_.notify_all();
    watchdog.join();
    return result;
  }

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  // Waits until `event` has been recorded `times` times; false after the
  // deadline.
  bool WaitForEvent(const std::string& event, int times = 1) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return Count(events_, event) >= times; });
  }
  void Record(const std::string& event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    changed_.notify_all();
  }

  using Dialog::UpdateData;

 protected:
  bool OnInitDialog() override {
    const bool focus = Dialog::OnInitDialog();
    Record("init");
    if (onInit) onInit(*this);
    return focus;
  }
  void DoDataExchange(ui::DataExchange& dx) override {
    Dialog::DoDataExchange(dx);
    if (!exchange) return;
    ui::ExchangeControl(dx, 1000, status);
    ui::ExchangeText(dx, 1001, folder);
    ui::ExchangeText(dx, 1000, statusText);
  }
  void OnOK() override {
    Record("ok");
    Dialog::OnOK();
  }
  void OnCancel() override {
    Record("cancel");
    Dialog::OnCancel();
  }
  bool OnCommand(uint32_t id) override {
    Record("command " + std::to_string(id));
    return onCommand && onCommand(id);
  }
  void OnTimer(uintptr_t id) override { Record("timer " + std::to_string(id)); }
  void OnClose() override {
    Record("close");
    Dialog::OnClose();
  }
  bool OnSysCommand(uint32_t id, intptr_t param) override {
    Record("syscommand " + std::to_string(id));
    return (onSysCommand && onSysCommand(id)) || Dialog::OnSysCommand(id, param);
  }
  bool OnPaint() override { return (onPaint && onPaint()) || Dialog::OnPaint(); }
  ui::IconHandle OnQueryDragIcon() override { return dragIcon != 0 ? dragIcon : Dialog::OnQueryDragIcon(); }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;
};

}  // namespace win32test
