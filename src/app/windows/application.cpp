// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/application.h"

#include <QApplication>
#include <QLocale>

#include <clocale>
#include <exception>

#include "app/windows/Unit1.h"
#include "app/windows/error_report.h"
#include "platform/main_thread/qt_pump.h"

namespace {

bool ReportFatalErrors = true;

// Any exception that reaches the event loop ends the program through the
// fatal error path instead of tearing it down unreported.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject *receiver, QEvent *event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
      FatalError(e.what(), ReportFatalErrors);
    } catch (...) {
      FatalError("unknown error", ReportFatalErrors);
    }
    return false;
  }
};

}  // namespace

int RunWindow(int argc, char **argv, const TParsedCommandLine &CommandLine, TSettingsStore &Store) {
  TApplication application(argc, argv);
  QApplication::setApplicationName("TONMILL");
  // "." separates decimals whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  QLocale::setDefault(QLocale::c());
  TQtPump pump;
  SetMainThreadPump(&pump);
  int status = 1;
  try {
    Tmain window(CommandLine, Store);
    ReportFatalErrors = window.ReportErrors;
    // A fatal error while the window was built ends the program before it opens.
    if (!FatalErrorRaised()) {
      window.show();
      status = QApplication::exec();
    }
  } catch (const std::exception &e) {
    FatalError(e.what(), ReportFatalErrors);  // start-up failed: report, then end
  }
  SetMainThreadPump(nullptr);
  return status;
}
