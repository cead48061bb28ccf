// Diagnostic output of the filter.
//
// Every diagnostic line goes to standard error (unbuffered) and begins with
// "ERROR:" so that the scheduler records it at its error level; the only other
// line is the progress attribute.  Buffer and handle addresses are logged as
// their low 32 bits.
#pragma once

#include <cstdint>

// The low 32 bits of an address, for the "%x" fields of the log.
inline unsigned LogAddr(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}
