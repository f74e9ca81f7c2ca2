// The main-thread pump of the window: waiting runs Qt's event loop, so the
// window stays alive, and work from workers arrives as queued calls.
#pragma once

#include <memory>

#include "platform/main_thread/main_thread.h"

class QEventLoop;
class QObject;

class TQtPump : public TMainThreadPump {
 public:
  TQtPump();  // on the main thread, with the application object alive
  ~TQtPump() override;
  void WaitForWork(int ms) override;
  void ProcessPending() override;
  void RunOnMainThread(const std::function<void()> &f) override;
  void Wake() override;
  bool IsMainThread() const override;

 private:
  std::unique_ptr<QObject> Receiver;  // lives on the main thread
  QEventLoop *Waiting = nullptr;      // the loop of the current wait, if any
};
