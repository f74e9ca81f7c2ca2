// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread pump of the window: waiting runs Qt's event loop, so the
// window stays alive. Work from workers and wake-ups are posted to Qt's event
// queue, so whichever loop runs serves them: a wait's own, or a modal
// dialog's opened above it.
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
  void Woken();  // main thread, for each Wake

  TMainThreadQueue Queue;
  std::unique_ptr<QObject> Receiver;  // lives on the main thread
  QEventLoop *Waiting = nullptr;      // the loop of the innermost wait, if any
};
