// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>

#include "platform/main_thread/worker_thread.h"

extern char **environ;

namespace {

constexpr size_t kErrorTailBytes = 16384;
// How often a wait looks whether its worker was asked to stop.
constexpr int kSliceMs = 100;
// Once the child has ended, how long what it left behind may hold its pipes.
constexpr int kLeftoverMs = 2000;
// A killed child stuck in the kernel (a dead network mount) is left behind
// after this long rather than hanging the run.
constexpr int kKillMs = 5000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Pause(int &ms) {
  usleep(useconds_t(ms) * 1000);
  ms = std::min(ms * 2, 20);
}

// The end of `text` that fits in the tail.
void KeepTail(std::string &text) {
  if (text.size() > kErrorTailBytes) text.erase(0, text.size() - kErrorTailBytes);
}

struct TSpawnSetup {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  TSpawnSetup() {
    posix_spawn_file_actions_init(&Actions);
    posix_spawnattr_init(&Attributes);
  }
  ~TSpawnSetup() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
  }
};

}  // namespace

TChildProcess::TChildProcess(const std::string &Program, const std::vector<std::string> &Args,
                             bool MergeErrors) {
  int out[2], err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  if (!MergeErrors && pipe2(err, O_CLOEXEC) != 0) {
    const int code = errno;
    close(out[0]);
    close(out[1]);
    throw std::system_error(code, std::generic_category(), "pipe");
  }

  TSpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.Actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&setup.Actions, MergeErrors ? out[1] : err[1], 2);
  // Descriptors other threads open without close-on-exec stay with us too.
  posix_spawn_file_actions_addclosefrom_np(&setup.Actions, 3);
  // The child starts with default signal handling, whatever ours is.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.Attributes, &all);
  posix_spawnattr_setsigmask(&setup.Attributes, &none);
  // A group of its own: Ctrl-C at the terminal is ours to handle (a stop
  // asked for), not a failure of the child. Should we die, its next write
  // to the pipe ends it.
  posix_spawnattr_setpgroup(&setup.Attributes, 0);
  posix_spawnattr_setflags(&setup.Attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(Program.c_str()));
  for (const std::string &arg : Args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  const int result = posix_spawnp(&Child, Program.c_str(), &setup.Actions, &setup.Attributes,
                                  argv.data(), environ);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  Output = out[0];
  ErrorPipe = err[0];
  if (result != 0) {
    Child = -1;
    Reaped = true;
    CloseOutput();
    throw std::system_error(result, std::generic_category(), Program);
  }
}

TChildProcess::~TChildProcess() {
  Kill();
  CloseOutput();
}

void TChildProcess::CloseOutput() {
  if (Output >= 0) close(Output);
  if (ErrorPipe >= 0) close(ErrorPipe);
  Output = ErrorPipe = -1;
}

void TChildProcess::CollectErrors() {
  char chunk[4096];
  const ssize_t got = read(ErrorPipe, chunk, sizeof chunk);
  if (got > 0) {
    ErrorTail.append(chunk, size_t(got));
    KeepTail(ErrorTail);
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(ErrorPipe);
    ErrorPipe = -1;
  }
}

bool TChildProcess::StopAsked() {
  if (!StopSeen && CurrentWorkerTerminated()) StopSeen = true;
  return StopSeen;
}

int64_t TChildProcess::Read(void *Buffer, size_t Count, int TimeoutMs) {
  if (Output < 0) return 0;
  int64_t waitFrom = NowMs(), endSeen = -1;
  for (;;) {
    if (StopAsked()) {
      Kill();
      CloseOutput();
      return 0;
    }
    int slice = kSliceMs;
    if (TimeoutMs >= 0) {
      const int64_t left = TimeoutMs - (NowMs() - waitFrom);
      if (left <= 0) return -1;
      slice = int(std::min<int64_t>(slice, left));
    }
    pollfd fds[2] = {{Output, POLLIN, 0}, {ErrorPipe, POLLIN, 0}};
    const int ready = poll(fds, ErrorPipe >= 0 ? 2 : 1, slice);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) {
      // The child is gone, yet its output stays open: something it started
      // holds it. That is no longer ours to wait for.
      if (!Reaped && Ended()) {
        if (endSeen < 0) endSeen = NowMs();
        if (NowMs() - endSeen >= kLeftoverMs) kill(-Child, SIGKILL);
      }
      continue;
    }
    if (ErrorPipe >= 0 && fds[1].revents) CollectErrors();
    if (fds[0].revents) {
      const ssize_t got = read(Output, Buffer, Count);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        close(Output);
        Output = -1;
        // What is left on standard error belongs to the report of the end.
        const int64_t until = NowMs() + (TimeoutMs >= 0 ? std::min(TimeoutMs, kLeftoverMs) : kLeftoverMs);
        while (ErrorPipe >= 0 && !StopAsked()) {
          const int64_t left = until - NowMs();
          if (left <= 0) break;
          pollfd errors = {ErrorPipe, POLLIN, 0};
          const int more = poll(&errors, 1, int(std::min<int64_t>(left, kSliceMs)));
          if (more < 0 && errno != EINTR) break;
          if (more > 0) CollectErrors();
        }
        return 0;
      }
      return got;
    }
    // Only errors came: the child is at work, so the wait starts again.
    waitFrom = NowMs();
  }
}

int64_t TChildProcess::ReadFull(void *Buffer, size_t Count, int IdleMs) {
  size_t done = 0;
  while (done < Count) {
    const int64_t got = Read(static_cast<char *>(Buffer) + done, Count - done, IdleMs);
    if (got == 0) break;
    if (got < 0) throw std::runtime_error("no answer for " + std::to_string(IdleMs / 1000) + " seconds");
    done += size_t(got);
  }
  return int64_t(done);
}

std::string TChildProcess::ReadAll(size_t Limit, int IdleMs) {
  std::string text;
  char chunk[16384];
  for (;;) {
    const int64_t got = ReadFull(chunk, sizeof chunk, IdleMs);
    if (text.size() < Limit) text.append(chunk, std::min(size_t(got), Limit - text.size()));
    if (got < int64_t(sizeof chunk)) return text;
  }
}

bool TChildProcess::Ended() {
  siginfo_t info{};
  // Not reaped yet: a zombie keeps its group's number from being reused.
  return waitid(P_PID, id_t(Child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == Child;
}

void TChildProcess::Reap() {
  kill(-Child, SIGKILL);  // whatever the child left running in its group
  int status = 0;
  while (waitpid(Child, &status, 0) < 0 && errno == EINTR) {
  }
  Reaped = true;
  Status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int TChildProcess::Wait(int TimeoutMs) {
  const int64_t from = NowMs();
  for (int pause = 1; !Reaped; Pause(pause)) {
    if (Ended()) {
      Reap();
      break;
    }
    if (StopAsked() || NowMs() - from >= TimeoutMs) {
      WaitRanOut = !StopSeen;
      Kill();
      break;
    }
  }
  return Status;
}

void TChildProcess::Kill() {
  if (Reaped) return;
  kill(-Child, SIGKILL);
  const int64_t from = NowMs();
  for (int pause = 1; !Ended(); Pause(pause)) {
    if (NowMs() - from >= kKillMs) {
      Reaped = true;
      Status = 128 + SIGKILL;
      return;
    }
  }
  Reap();
}
