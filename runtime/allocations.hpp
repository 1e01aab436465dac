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
// take_kept gives a zero-filled block of exactly size bytes' worth, or null
// when none is kept; keep takes the block of a record of size bytes this
// module allocated and has forgotten, or returns false (the caller frees it).
void *take_kept(std::size_t size);
bool keep(void *block, std::size_t size);

// True while some text copied into a field may still be held by a record.
bool texts_held();

// Texts this module copied into owned text fields. A setter frees the text it
// replaces only when that text is found here; a library's text stays alone.
// The field the text was stored in is remembered too, so that freeing the
// record it lies in frees the text with it.
void remember_text(char *text, char **field);
bool forget_text(char *text);

// Frees the texts this module copied into fields of the record at
// [address, address + size) that still hold them; called as the record dies.
void release_texts_within(void *address, std::size_t size);

}  // namespace allocations
