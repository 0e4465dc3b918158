// Fuzz target: the DIMACS .min reader on arbitrary bytes. Any input must give a
// record or an error, and reading the file in ranges on several threads must
// give what one pass gives; the sanitizers catch everything else.
#include <cstdlib>
#include <limits>

#include "core/base/parallel.h"
#include "core/formats/min_reader.h"
#include "fuzz_input.h"
#include "same_record.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The thread count of every call made on this (the fuzzing) thread.
  static korvane::ThreadCountScope threads(3);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static korvane::fuzz::MemoryFile file;
  const std::string path = file.fill(data, size);
  const auto whole = korvane::parse_min(path, std::numeric_limits<std::size_t>::max());
  // Ranges of a few bytes put boundaries inside lines, numbers and characters.
  const auto ranges = korvane::parse_min(path, 1 + size / 8);
  if (!korvane::fuzz::same(whole, ranges)) std::abort();
  return 0;
}
