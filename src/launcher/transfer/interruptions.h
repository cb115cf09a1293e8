#pragma once
// The two exceptions that travel through the transfer code without a message. They live here,
// once, so that every file that throws or catches them names the same type.

namespace launcher::transfer {

// HttpGet's answer to a 416 for a ranged request; only Download catches it.
struct RangeRefused {};

// Thrown from a progress callback to abandon a transfer; passes through Download and HttpGet.
struct Stopped {};

}  // namespace launcher::transfer

namespace launcher {
using transfer::RangeRefused;
using transfer::Stopped;
}  // namespace launcher
