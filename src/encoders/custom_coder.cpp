// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/custom_coder.h"

#include <stdexcept>

TCustomCoder::TCustomCoder(const std::string &FileName, const TTagRec &Tags,
                           const TAudioInfo &AudioInfo)
    : FileName(FileName), AudioInfo(AudioInfo), Tags(Tags) {}

void TCustomCoder::CreateOutput() {
  OutStream = CreateFileStream(FileName);
}

std::unique_ptr<TFileStream> CreateFileStream(const std::string &FileName) {
  try {
    return std::make_unique<TFileStream>(FileName);
  } catch (const std::exception &e) {
    throw std::runtime_error(CreateFileStreamFailure + std::string(e.what()));
  }
}

int TCustomCoder::Init(std::string &ErrorText) {
  ErrorText.clear();
  try {
    Start();
    return 0;
  } catch (const std::exception &e) {
    ErrorText = e.what();
    return 1;
  }
}

void TCustomCoder::Start() { throw EAssertFailed("Assert failed : " + std::string(ClassName()) + " has no Start"); }

void TCustomCoder::FinishOutput(const std::function<void(TFileStream &)> &End) {
  if (!OutStream) return;
  std::unique_ptr<TFileStream> stream = std::move(OutStream);
  End(*stream);
  stream->Close();
}
