#include "platform/main_thread/qt_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <exception>

TQtPump::TQtPump() : Receiver(std::make_unique<QObject>()) {}

TQtPump::~TQtPump() = default;

bool TQtPump::IsMainThread() const { return QThread::currentThread() == Receiver->thread(); }

void TQtPump::WaitForWork(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  QEventLoop *outer = Waiting;
  Waiting = &loop;
  loop.exec();
  Waiting = outer;
}

void TQtPump::ProcessPending() { QCoreApplication::processEvents(); }

void TQtPump::RunOnMainThread(const std::function<void()> &f) {
  if (IsMainThread()) {
    f();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      Receiver.get(),
      [&] {
        try {
          f();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void TQtPump::Wake() {
  // Ends the current wait on the main thread, from whichever thread.
  QMetaObject::invokeMethod(Receiver.get(), [this] {
    if (Waiting) Waiting->quit();
  }, Qt::QueuedConnection);
}
