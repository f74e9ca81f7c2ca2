// tonmill: converts the files named after /input into WAV files in the /output
// folder, one after the other.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "encoders/coder.h"
#include "engine/coder_thread.h"
#include "engine/output_naming.h"
#include "platform/bass/bass.h"
#include "sources/audio_info.h"


int main(int argc, char **argv) {
  std::vector<std::string> inputs;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--version")) {
      std::printf("tonmill 0.1.0\n");
      return 0;
    }
    if (!std::strcmp(argv[i], "/output") && i + 1 < argc) {
      output = argv[++i];
    } else if (!std::strcmp(argv[i], "/input")) {
      while (i + 1 < argc && argv[i + 1][0] != '/') inputs.push_back(argv[++i]);
      while (i + 1 < argc && std::strcmp(argv[i + 1], "/output")) inputs.push_back(argv[++i]);
    }
  }
  if (inputs.empty() || output.empty()) {
    std::fprintf(stderr, "usage: tonmill /input FILE... /output FOLDER\n");
    return 1;
  }
  if (output.back() != '/') output += '/';
  BASS_Init(0, 44100, 0, nullptr, nullptr);
  int status = 0;
  for (const std::string &input : inputs) {
    TFileListRec job;
    job.SourceFileName = input;
    job.OutputFileName = MakeOutputName(output, input, "wav", false);
    job.JobNumber = job.JobCount = 1;
    if (IsSupportedFileType(GetFileExtension(input))) GetFileAudioInfo(input, true, job.AudioInfo);
    if (job.AudioInfo.Streams.empty() || !job.AudioInfo.ErrorText.empty()) {
      std::fprintf(stderr, "%s: cannot be read %s\n", input.c_str(), job.AudioInfo.ErrorText.c_str());
      status = 1;
      continue;
    }
    std::string failure;
    TCoderThread worker(0, 1, job, nullptr, nullptr,
                        [&](int32_t, const TThreadErrorRec &e) { failure = e.ErrorMessage; });
    worker.Resume();
    worker.WaitFor();
    if (!failure.empty()) {
      std::fprintf(stderr, "%s: %s\n", input.c_str(), failure.c_str());
      status = 1;
    } else {
      std::printf("%s\n", job.OutputFileName.c_str());
    }
  }
  return status;
}
