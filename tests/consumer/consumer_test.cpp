// The C++ API as a user's program calls it: every reader, the writers, a failing
// read of each kind, the generators, a cancelled generation and the thread count.
//
//   consumer_test NETWORK.min JLF_PSP_BASE OUT_DIR
//
// Writes OUT_DIR/cpp.mcf and OUT_DIR/cpp.{nod,arc,sup,mut} (the generation below),
// OUT_DIR/cpp_jlf.* (the JLF instance written back as Mnetgen),
// OUT_DIR/cpp_netgen.min and OUT_DIR/cpp_mnetgen.* (the two generators) and
// OUT_DIR/cpp_errors.tsv (kind, message and note of each failing call) and
// OUT_DIR/cpp_version.txt (version()), which
// the test stage compares with what the Python module writes for the same
// arguments (python_reference.py). Checks the rest itself: a non-zero exit and a
// line on stderr name the first check that failed.
#include <korvane/korvane.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

template <class T>
T take(korvane::Result<T>&& result, const char* what) {
  if (!result) {
    std::fprintf(stderr, "FAILED: %s: %s: %s\n", what, korvane::kind_name(result.error().kind),
                 result.error().message.c_str());
    std::exit(1);
  }
  return std::move(result).value();
}

void require(const korvane::Result<void>& result, const char* what) {
  if (!result) {
    std::fprintf(stderr, "FAILED: %s: %s: %s\n", what, korvane::kind_name(result.error().kind),
                 result.error().message.c_str());
    std::exit(1);
  }
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// One line of cpp_errors.tsv: the error of a call that must fail.
template <class R>
void record_failure(std::ofstream& out, const R& result, const char* what) {
  if (result.ok()) {
    std::fprintf(stderr, "FAILED: %s succeeded\n", what);
    ++failures;
    out << "ok\t\t\n";
    return;
  }
  const korvane::Error& e = result.error();
  out << korvane::kind_name(e.kind) << '\t' << e.message << '\t' << e.note << '\n';
}

// The settings python_reference.py passes to generate_multi_commodity_data.
korvane::GenerationParams reference_params() {
  return {.num_commodities = 4,
          .method = korvane::PartitionMethod::spread,
          .randomize_caps = true,
          .randomize_costs = true,
          .cap_zero = true,
          .cap_zero_param = 0.25,
          .seed = 7};
}

// Classic NETGEN problem 101 at a tenth of its size; python_reference.py passes
// the same values as keyword arguments.
korvane::NetgenParams netgen_reference() {
  return {.seed = 13502460, .problem = 101, .nodes = 500, .sources = 250, .sinks = 250,
          .arcs = 2500, .min_cost = 1, .max_cost = 100, .supply = 25000,
          .max_cost_percent = 0, .capacitated_percent = 100, .min_capacity = 1,
          .max_capacity = 1000};
}

// Mnetgen instance 64-4-1 (python_reference.py takes it from the family table).
korvane::MnetgenParams mnetgen_reference() {
  return {.seed = 117, .problem_number = 1, .num_nodes = 64, .min_lines = 720,
          .num_sources = 32, .num_sinks = 32, .num_commodities = 4,
          .num_transshipment_sources = 16, .num_transshipment_sinks = 16,
          .max_chain_length = 32, .min_cost = 1, .max_cost = 100, .min_supply = 100,
          .max_supply = 1000, .min_bound = 0, .max_bound = 50, .min_bundle_capacity = 20,
          .max_bundle_capacity = 250, .high_cost_percent = 10, .bounded_percent = 30,
          .bundled_percent = 40};
}

std::stop_token stop_before() {
  std::stop_source stop;
  stop.request_stop();
  return stop.get_token();
}

template <class A, class B>
bool same(A a, B b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s NETWORK.min JLF_PSP_BASE OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string network_path = argv[1];
  const std::string jlf_base = argv[2];
  const std::string out = std::string(argv[3]) + "/";

  check(std::string(korvane::version()) == KORVANE_VERSION_STRING, "version() is the headers'");
  write_file(out + "cpp_version.txt", std::string(korvane::version()) + "\n");

  // Read, generate, write, and read every file back.
  const korvane::NetworkInstance network = take(korvane::read_min(network_path), "read_min");
  check(network.num_arcs() == network.tails().size() && network.num_arcs() > 0, "arc columns");
  const korvane::MultiCommodityData data =
      take(korvane::generate_multi_commodity_data(network, reference_params()), "generate");
  check(data.capacity_table().size() == network.num_arcs() * 4, "E x K capacity table");
  require(korvane::write_multi_commodity(out + "cpp.mcf", network, data), "write_multi_commodity");
  const korvane::MulticommodityProblem problem =
      take(korvane::to_problem(network, &data), "to_problem");
  require(korvane::write_mnetgen(korvane::parts_of(out + "cpp"), problem), "write_mnetgen");

  const auto parsed = take(korvane::read_multi_commodity(out + "cpp.mcf"), "read_multi_commodity");
  check(parsed.num_commodities() == 4 && parsed.num_arcs() == network.num_arcs(), "parsed counts");
  check(same(parsed.tails(), network.tails()) && same(parsed.heads(), network.heads()),
        "parsed endpoints");
  bool tables_equal = true;
  for (std::size_t a = 0; a < parsed.num_arcs(); ++a) {
    for (uint64_t k = 0; k < 4; ++k) {
      tables_equal = tables_equal && parsed.capacity(a, k) == data.capacity_table()[a * 4 + k] &&
                     parsed.cost(a, k) == data.cost_table()[a * 4 + k];
    }
  }
  check(tables_equal, "parsed lists are the generated tables");

  const auto mnetgen = take(korvane::read_mnetgen(korvane::parts_of(out + "cpp")), "read_mnetgen");
  check(mnetgen.source() == korvane::ProblemSource::mnetgen, "mnetgen source");
  // A commodity that may not use an arc (capacity 0) has no record there: its cost reads as 0.
  bool costs_equal = mnetgen.costs().size() == problem.costs().size();
  for (std::size_t i = 0; costs_equal && i < problem.costs().size(); ++i) {
    costs_equal = problem.capacities()[i] == 0 || mnetgen.costs()[i] == problem.costs()[i];
  }
  check(mnetgen.num_arcs() == problem.num_arcs() && costs_equal &&
            same(mnetgen.capacities(), problem.capacities()) &&
            same(mnetgen.supplies(), problem.supplies()) &&
            same(mnetgen.bundles(), problem.bundles()),
        "Mnetgen round trip");

  const auto jlf =
      take(korvane::read_jlf(korvane::parts_of(jlf_base), korvane::JlfKind::psp), "read_jlf");
  check(jlf.source() == korvane::ProblemSource::jlf_psp && jlf.num_commodities() == 2, "JLF PSP");
  require(korvane::write_mnetgen(korvane::parts_of(out + "cpp_jlf"), jlf), "write_mnetgen of JLF");

  // The streamed generation writes the bytes of generation then writing.
  require(korvane::generate_to_file(out + "cpp_streamed.mcf", network, reference_params(), {}, 3),
          "generate_to_file");
  check(read_file(out + "cpp_streamed.mcf") == read_file(out + "cpp.mcf"), "streamed bytes");

  // The generators: the files are compared with Python's; the records with the
  // files read back.
  require(korvane::write_netgen(out + "cpp_netgen.min", netgen_reference()), "write_netgen");
  const auto netgen = take(korvane::netgen_instance(netgen_reference()), "netgen_instance");
  const auto netgen_read = take(korvane::read_min(out + "cpp_netgen.min"), "read_min of NETGEN");
  check(netgen.num_arcs() > 0 && same(netgen.tails(), netgen_read.tails()) &&
            same(netgen.heads(), netgen_read.heads()) &&
            same(netgen.costs(), netgen_read.costs()) && same(netgen.ups(), netgen_read.ups()) &&
            same(netgen.supplies(), netgen_read.supplies()),
        "netgen_instance is the written file read back");
  require(korvane::write_mnetgen_instance(out + "cpp_mnetgen", mnetgen_reference()),
          "write_mnetgen_instance");
  require(korvane::write_mnetgen_instance(out + "cpp_mnetgen_zst", mnetgen_reference(),
                                         korvane::Compression::zstd),
          "write_mnetgen_instance, zstd");
  const auto generated = take(korvane::mnetgen_problem(mnetgen_reference()), "mnetgen_problem");
  const auto generated_read =
      take(korvane::read_mnetgen(korvane::parts_of(out + "cpp_mnetgen")), "read_mnetgen");
  check(generated.num_commodities() == 4 && generated.num_arcs() == generated_read.num_arcs() &&
            same(generated.costs(), generated_read.costs()) &&
            same(generated.capacities(), generated_read.capacities()) &&
            same(generated.supplies(), generated_read.supplies()) &&
            same(generated.bundles(), generated_read.bundles()),
        "mnetgen_problem is the written files read back");
  const auto netgen_cancelled =
      korvane::write_netgen(out + "cpp_netgen_cancelled.min", netgen_reference(),
                            korvane::Compression::none, {.stop = stop_before()});
  check(!netgen_cancelled.ok() && netgen_cancelled.error().kind == korvane::ErrorKind::cancelled &&
            !std::ifstream(out + "cpp_netgen_cancelled.min"),
        "cancelled NETGEN leaves no file");

  // Every thread count gives the same data.
  for (std::size_t threads : {1, 3}) {
    const auto again = take(korvane::generate_multi_commodity_data(
                                network, reference_params(), {.threads = threads}),
                            "generate with a thread count");
    check(same(again.capacity_table(), data.capacity_table()) &&
              same(again.cost_table(), data.cost_table()),
          "same tables for every thread count");
  }

  // A stop requested before the call: cancelled at once, and no file left.
  std::stop_source stop;
  stop.request_stop();
  const auto cancelled = korvane::generate_multi_commodity_data(network, reference_params(),
                                                                {.stop = stop.get_token()});
  check(!cancelled.ok() && cancelled.error().kind == korvane::ErrorKind::cancelled &&
            cancelled.error().message.empty(),
        "cancelled generation");
  const auto cancelled_write = korvane::generate_to_file(
      out + "cpp_cancelled.mcf", network, reference_params(), {.stop = stop.get_token()});
  check(!cancelled_write.ok() && cancelled_write.error().kind == korvane::ErrorKind::cancelled &&
            !std::ifstream(out + "cpp_cancelled.mcf"),
        "cancelled streamed generation leaves no file");

  // Failing calls: their kind, message and note go to cpp_errors.tsv.
  write_file(out + "bad.min", "p min 2 1\nn 1 5\na 1 2 0 x 1\n");
  write_file(out + "bad_mnetgen.nod", "1\n1\n1\n0\n");
  write_file(out + "bad_mnetgen.arc", "");
  write_file(out + "bad_mnetgen.sup", "");
  write_file(out + "bad_mnetgen.mut", "");
  write_file(out + "bad.mcf", "p min 2 1 2 0 0 0 0 0 0\na 1 2 1\n");
  std::ofstream errors(out + "cpp_errors.tsv");
  record_failure(errors, korvane::read_min(out + "missing.min"), "read_min of a missing file");
  record_failure(errors, korvane::read_min(out + "bad.min"), "read_min of a malformed number");
  record_failure(errors, korvane::read_multi_commodity(out + "missing.mcf"),
                 "read_multi_commodity of a missing file");
  record_failure(errors, korvane::read_multi_commodity(out + "bad.mcf"),
                 "read_multi_commodity of a short arc line");
  record_failure(errors, korvane::read_mnetgen(korvane::parts_of(out + "bad_mnetgen")),
                 "read_mnetgen of one node");
  record_failure(errors,
                 korvane::generate_multi_commodity_data(network, {.num_commodities = 2,
                                                                  .method = 7}),
                 "generation with an unknown method");
  record_failure(errors,
                 korvane::generate_multi_commodity_data(
                     network, {.num_commodities = uint64_t{1} << 62,
                               .method = korvane::PartitionMethod::uniform}),
                 "generation with tables no vector can hold");
  record_failure(errors,
                 korvane::write_multi_commodity(out + "no-such-folder/x.mcf", network, data),
                 "writing into a missing folder");
  korvane::NetgenParams crowded = netgen_reference();
  crowded.sinks = 251;
  record_failure(errors, korvane::write_netgen(out + "cpp_refused.min", crowded),
                 "NETGEN with more sources and sinks than nodes");
  record_failure(errors, korvane::netgen_instance(netgen_reference(), {}, {.max_nodes = 0}),
                 "NETGEN with a limit of no node");
  korvane::MnetgenParams few_nodes = mnetgen_reference();
  few_nodes.num_nodes = 20;
  record_failure(errors, korvane::write_mnetgen_instance(out + "cpp_refused", few_nodes),
                 "Mnetgen with more sources and sinks than nodes");
  errors.close();
  if (failures == 0) std::printf("consumer_test: every check passed\n");
  return failures == 0 ? 0 : 1;
}
