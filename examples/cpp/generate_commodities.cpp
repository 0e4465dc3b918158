// generate_commodities NETWORK.min OUT.mcf [SEED]: four commodities for a network.
#include <korvane/korvane.hpp>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s NETWORK.min OUT.mcf [SEED]\n", argv[0]);
    return 2;
  }
  auto network = korvane::read_min(argv[1]);
  if (!network) {
    const korvane::Error& e = network.error();
    std::fprintf(stderr, "%s: %s\n", korvane::kind_name(e.kind), e.message.c_str());
    return 1;
  }
  const korvane::GenerationParams params{
      .num_commodities = 4,
      .method = korvane::PartitionMethod::beta_binomial,
      .randomize_caps = true,
      .seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 42,
  };
  auto data = korvane::generate_multi_commodity_data(network.value(), params);
  if (!data) {
    std::fprintf(stderr, "%s: %s\n", korvane::kind_name(data.error().kind),
                 data.error().message.c_str());
    return 1;
  }
  auto written = korvane::write_multi_commodity(argv[2], network.value(), data.value());
  if (!written) {
    std::fprintf(stderr, "%s: %s\n", korvane::kind_name(written.error().kind),
                 written.error().message.c_str());
    return 1;
  }
  std::printf("%zu arcs, %llu commodities -> %s (korvane %s)\n", network.value().num_arcs(),
              static_cast<unsigned long long>(data.value().num_commodities()), argv[2],
              korvane::version());
  return 0;
}
