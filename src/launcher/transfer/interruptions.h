#pragma once
// The exceptions that travel through the transfer code besides a plain Failure. They live here,
// once, so that every file that throws or catches them names the same type.

#include <chrono>
#include <optional>

#include "launcher/text/failure.h"

namespace launcher::transfer {

// A failure that may pass when the same request is made again a little later: a connection that
// broke, was reset or timed out, a body cut short or dripping too slowly, a 5xx or 429 answer.
// `retryAfter` is what the server asked for in Retry-After, when it did.
struct TransientFailure : Failure {
  std::optional<std::chrono::seconds> retryAfter;
};

// A download that kept below the slowest rate for a whole window, or received nothing: it is
// tried again from where it stood, like a cut connection.
struct Stalled : TransientFailure {};

// The update under way has run past its deadline (SetUpdateDeadline): it gives up for this
// start, keeping what it has for the next.
struct PastDeadline : Failure {};

// The download arrived whole but isn't the bytes promised: its SHA-256 differs. A cache that
// served a stale or cut copy is the common cause.
struct WrongBytes : Failure {};

// HttpGet's answer to a 416 for a ranged request; only Download catches it.
struct RangeRefused {};

// Thrown from a progress callback to abandon a transfer; passes through Download and HttpGet.
struct Stopped {};

}  // namespace launcher::transfer

namespace launcher {
using transfer::PastDeadline;
using transfer::RangeRefused;
using transfer::Stalled;
using transfer::Stopped;
using transfer::TransientFailure;
using transfer::WrongBytes;
}  // namespace launcher
