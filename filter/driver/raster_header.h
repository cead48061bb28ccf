// Reading the fields of a raster page header.
//
//   HeaderValue  a field as the 32-bit number the stream holds
#pragma once

#include <cstring>

// The enumerated fields of a page header (cups_bool_t, cups_orient_t,
// cups_cspace_t, ...) hold whatever the stream sent, often a value that no
// enumerator has, and reading such a field as its enum type is undefined.
// Their 32 bits are read as the unsigned number they are instead.
template <typename Field>
unsigned HeaderValue(const Field& field) {
  static_assert(sizeof(Field) == sizeof(unsigned));
  unsigned value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}
