// Records allocated by this module and still alive. delete_X frees an address
// only when it is found here under X's descriptor, so a getter's view into
// another record, a library's record or a second delete never reach free().
#pragma once

#include <cstddef>

#include "swig_abi.hpp"

namespace allocations {

void remember(void *address, const swig_type_info *ty);

// True (and forgotten) when address was allocated here as a record of ty.
bool forget(void *address, const swig_type_info *ty);

// True when address is a live record this module allocated as ty: such a
// record is exactly its C size, with nothing allocated behind it.
bool holds(void *address, const swig_type_info *ty);

// Blocks of freed small records, kept for the next record of the same size:
// a record made and dropped in a loop then costs no trip to the C allocator.
// A kept block stays in the table under a mark no record type has, so that
// nothing frees it and holds() denies it.
//
// take_kept gives a block of exactly size bytes' worth (not cleared), entered
// as a record of ty, or null when none is kept. retire ends a record of ty
// at address of size bytes: kNotOurs when it is no live record of ty
// allocated here (nothing is done), kKept when its block was kept, kForgotten
// when the caller is to free it (and the texts within it).
void *take_kept(std::size_t size, const swig_type_info *ty);
enum Retired { kNotOurs, kKept, kForgotten };
Retired retire(void *address, const swig_type_info *ty, std::size_t size);

// Texts this module copied into owned text fields. A setter frees the text it
// replaces only when that text is found here; a library's text stays alone.
// The field the text was stored in is remembered too, so that freeing the
// record it lies in frees the text with it. False, with nothing remembered,
// when there is no memory to remember it.
bool remember_text(char *text, char **field);
bool forget_text(char *text);

// Frees the texts this module copied into fields of the record at
// [address, address + size) that still hold them; called as the record dies.
void release_texts_within(void *address, std::size_t size);

}  // namespace allocations
