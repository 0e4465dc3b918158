// FourFileParts: where the four parts of a four-file instance (Mnetgen, JLF)
// are, for the readers, the writers and the generators that stream into them.
#pragma once

#include <string>

namespace korvane {

// The paths of an instance's four parts (each plain, gzip or zstd, recognised
// by its magic bytes as every korvane reader does).
struct FourFileParts {
  std::string nod;
  std::string arc;
  std::string sup;  // for JLF ODS sets often BASE.od
  std::string mut;
};

}  // namespace korvane
