// Fuzz target: the DIMACS .min reader on arbitrary bytes. Any input must give a
// record or an error; the sanitizers catch everything else.
#include "core/io/min_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static korvane::fuzz::MemoryFile file;
  (void)korvane::parse_min(file.fill(data, size));
  return 0;
}
