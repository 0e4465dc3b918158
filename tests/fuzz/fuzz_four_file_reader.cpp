// Fuzz target: the Mnetgen and JLF readers on arbitrary bytes, split at '|' into
// the .nod, .arc, .sup and .mut parts (missing parts empty). Every read must give
// an error or a problem whose tables fit its counts; on ASCII text the Mnetgen
// reader must refuse what a plain reference reader refuses and otherwise give
// the problem it gives; the sanitizers catch the rest.
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "core/formats/four_file_reader.h"
#include "fuzz_input.h"
#include "mnetgen_reference.h"

namespace {

void check(const korvane::Result<korvane::MulticommodityProblem>& read) {
  if (!read.ok()) {
    if (read.error().kind == korvane::ErrorKind::kInternal) std::abort();
    return;
  }
  const korvane::MulticommodityProblem& p = read.value();
  const std::size_t e = p.num_arcs(), k = p.num_commodities, n = p.num_nodes;
  if (e > p.declared_arcs || p.heads.size() != e || p.arc_names.size() != e ||
      p.bundles.size() != e || p.costs.size() != e * k || p.capacities.size() != e * k ||
      p.supplies.size() != n * k) {
    std::abort();
  }
  for (std::size_t a = 0; a < e; ++a) {
    if (p.tails[a] < 1 || p.heads[a] < 1 || p.tails[a] == p.heads[a] ||
        static_cast<std::size_t>(p.tails[a]) > n || static_cast<std::size_t>(p.heads[a]) > n ||
        (a > 0 && p.arc_names[a] <= p.arc_names[a - 1])) {
      std::abort();
    }
  }
  for (const double c : p.capacities) {
    if (!(c >= 0)) std::abort();  // NaN and negatives alike
  }
  for (const double c : p.costs) {
    if (!std::isfinite(c)) std::abort();
  }
}

bool same(const korvane::MulticommodityProblem& a, const korvane::MulticommodityProblem& b) {
  return a.source == b.source && a.num_nodes == b.num_nodes &&
         a.num_commodities == b.num_commodities && a.declared_arcs == b.declared_arcs &&
         a.node_ids == b.node_ids && a.arc_names == b.arc_names && a.tails == b.tails &&
         a.heads == b.heads && a.costs == b.costs && a.capacities == b.capacities &&
         a.bundles == b.bundles && a.supplies == b.supplies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static korvane::fuzz::MemoryFile files[4];
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string paths[4];
  std::string_view texts[4];
  for (int i = 0; i < 4; ++i) {
    const std::size_t cut = i < 3 ? rest.find('|') : std::string_view::npos;
    const std::string_view part = rest.substr(0, cut);
    texts[i] = part;
    paths[i] = files[i].fill(reinterpret_cast<const uint8_t*>(part.data()), part.size());
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  const korvane::FourFileParts parts{paths[0], paths[1], paths[2], paths[3]};
  const auto mnetgen = korvane::read_mnetgen(parts);
  check(mnetgen);
  bool ascii = true;
  for (std::size_t i = 0; i < size; ++i) ascii = ascii && data[i] < 0x80;
  if (ascii) {
    const auto reference = korvane::fuzz::reference_mnetgen(texts[0], texts[1], texts[2], texts[3]);
    if (reference.has_value() != mnetgen.ok()) std::abort();
    if (reference && !same(*reference, mnetgen.value())) std::abort();
  }
  for (const auto kind : {korvane::JlfKind::kPsp, korvane::JlfKind::kOsp, korvane::JlfKind::kOds}) {
    check(korvane::read_jlf(parts, kind));
  }
  return 0;
}
