// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/main_thread/qt_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

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

void TQtPump::ProcessPending() {
  Queue.RunAll();
  QCoreApplication::processEvents();
}

void TQtPump::RunOnMainThread(const std::function<void()> &f) {
  if (IsMainThread()) {
    f();
    return;
  }
  // One posted call per function; a call that finds the queue already
  // drained (by ProcessPending, or an earlier call) has nothing to do.
  Queue.RunAndWait(f, [this] {
    QMetaObject::invokeMethod(Receiver.get(), [this] { Queue.RunAll(); }, Qt::QueuedConnection);
  });
}

void TQtPump::Wake() {
  QMetaObject::invokeMethod(Receiver.get(), [this] { Woken(); }, Qt::QueuedConnection);
}

void TQtPump::Woken() {
  // The wait's loop ends once control is back in it, which a modal dialog
  // opened above it delays: the handler acts meanwhile.
  if (Waiting) Waiting->quit();
  RunWakeHandler();
}
