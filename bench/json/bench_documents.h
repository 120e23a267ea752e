// Generated JSON texts for the reader benchmark; deterministic, so every run
// reads the very same bytes.
#pragma once

#include <cstddef>
#include <string>

namespace inkseal::bench {

// An object of about `bytes` bytes mixing nested objects, arrays, strings
// with escapes (but no \u) and numbers in every notation.
std::string MixedDocument(std::size_t bytes);

// One flat object with `members` string and number members.
std::string FlatObject(std::size_t members);

}  // namespace inkseal::bench
