// SPDX-License-Identifier: GPL-3.0-or-later
// The real main window of the window tests, its choosers, questions and reports answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>

#include <functional>

#include "app/windows/Unit1.h"
#include "test_support.h"

// Runs `action`; meanwhile `inDialog` runs once on the first modal dialog of
// type T, which is then closed unless `inDialog` closed it. True when it opened.
template <typename T>
bool WhileModal(const std::function<void()> &action, const std::function<void(T &)> &inDialog) {
  bool opened = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto *dialog = dynamic_cast<T *>(QApplication::activeModalWidget());
    if (!dialog || opened) return;
    opened = true;
    timer.stop();
    inDialog(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  timer.start(5);
  action();
  timer.stop();
  return opened;
}

class TWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    std::filesystem::create_directories(Folder + "/in");
    Store = std::make_unique<TSettingsStore>();
    Window = Open();
  }

  std::unique_ptr<Tmain> Open(const TParsedCommandLine &line = TParsedCommandLine{}) {
    auto window = std::make_unique<Tmain>(line, *Store);
    window->ShowMessage = [this](const QString &text) { Messages.push_back(text.toStdString()); };
    window->ChooseFolder = [this](const QString &) { return QString::fromStdString(Chosen); };
    window->ShowError = [this](const std::string &report) { Errors.push_back(report); };
    window->Ask = [this](const QString &question) { return Questions.push_back(question.toStdString()), Answer; };
    window->OpenUrl = [this](const QUrl &url) { return Opened.push_back(url.toLocalFile().toStdString()), true; };
    window->show();
    return window;
  }

  std::string Source(const std::string &name, const TTestSignal &signal) {
    std::filesystem::create_directories(std::filesystem::path(Folder + "/in/" + name).parent_path());
    return WriteSignal(Folder + "/in/" + name, signal);
  }

  // Outputs in Folder/out, in `format`, without full paths.
  void ChooseOutput(QRadioButton *format) {
    Chosen = Folder + "/out";
    std::filesystem::create_directories(Chosen);
    Window->bBrowseForFolderClick();
    format->click();
    Window->cbCreateFull->setChecked(false);
  }

  std::string Line() const { return Window->lProgress1->text().toStdString(); }

  std::string Folder, Chosen;
  bool Answer = false;
  std::unique_ptr<TSettingsStore> Store;
  std::unique_ptr<Tmain> Window;
  std::vector<std::string> Messages, Errors, Questions, Opened;
};
