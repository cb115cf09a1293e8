#include "launcher/window/splash.h"

#include "launcher/window/splash_presenter.h"

namespace launcher {

SplashSnapshot TakeSnapshot(Splash& splash) {
  std::lock_guard<std::mutex> guard(splash.lock);
  return {splash.status, splash.fraction, splash.failed, splash.revision};
}

void SetProgress(Splash& splash, const Progress& progress) {
  {
    std::lock_guard<std::mutex> guard(splash.lock);
    splash.status = progress.text;
    splash.fraction = progress.fraction;
    splash.failed = false;
    ++splash.revision;
  }
  // After unlocking: the user interface thread takes the lock to paint.
  RefreshSplash(splash);
}

void SetError(Splash& splash, const std::wstring& message) {
  {
    std::lock_guard<std::mutex> guard(splash.lock);
    splash.status = message;
    splash.fraction.reset();
    splash.failed = true;
    ++splash.revision;
  }
  RefreshSplash(splash);
}

}  // namespace launcher
