// The real backend: every platform operation forwards to the Windows call of
// the same name (the W form where there is one).
#pragma once

#include "platform/Platform.h"

namespace wf {

class Win32Platform final : public Platform {
 public:
  Win32Platform() = default;
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  WF_PLATFORM_OVERRIDES()

 private:
  // The console devices, opened once; a failed open is not retried.
  // Stored as the raw HANDLE values so that this header needs no
  // Windows headers.
  void* consoleInput_ = nullptr;
  bool consoleInputTried_ = false;
  void* consoleOutput_ = nullptr;
  bool consoleOutputTried_ = false;
};

}  // namespace wf
