#pragma once
// The process's transfer settings changed for one test and put back afterwards: shorter waits
// and windows, no retries, a bandwidth limit.

#include <functional>

#include "launcher/transfer/transfer_settings.h"

namespace launcher::support {

class ScopedTransfers {
 public:
  explicit ScopedTransfers(const std::function<void(TransferSettings&)>& change)
      : saved_(Transfers()) {
    change(Transfers());
  }
  ~ScopedTransfers() { Transfers() = saved_; }
  ScopedTransfers(const ScopedTransfers&) = delete;
  ScopedTransfers& operator=(const ScopedTransfers&) = delete;

 private:
  TransferSettings saved_;
};

// No second attempts: what one attempt leaves is what the test looks at.
inline void NoRetries(TransferSettings& settings) {
  settings.retryWaits.clear();
}

}  // namespace launcher::support
