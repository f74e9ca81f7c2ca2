// SPDX-License-Identifier: GPL-3.0-or-later
// TWMACoder feeds the worker's 16-bit samples to the WMA library, which
// writes the file itself; the tags follow as attributes once it is closed.
#pragma once

#include <string>

#include "encoders/custom_coder.h"
#include "encoders/wma/wma_format.h"
#include "platform/basswma/basswma.h"

class TWMACoder : public TCustomCoder {
 public:
  TWMACoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo, const TWMAOptions &Options)
      : TCustomCoder(FileName, Tags, AudioInfo), Options(Options) {}
  ~TWMACoder() override;
  void Finish() override;
  int Init(std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return 10000; }
  const char *ClassName() const override { return "TWMACoder"; }

 private:
  HWMENCODE Open(DWORD Flags, DWORD Argument);
  TWMAOptions Options;
  HWMENCODE Handle = 0;
};
