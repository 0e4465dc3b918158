// ZstdInflater and ZstdDeflater for a build without libzstd (its headers were not
// found): zstd magic is still recognised, so that reading or writing a zstd file
// fails with a message that says why instead of misreading the bytes.
#include <string>

#include "core/io/zstd_deflater.h"
#include "core/io/zstd_inflater.h"

namespace korvane {
namespace {

constexpr const char* kWithoutZstd = "this korvane was built without zstd support";

}  // namespace

bool has_zstd_magic(std::string_view first_bytes) {
  return first_bytes.size() >= 4 && first_bytes.substr(0, 4) == "\x28\xb5\x2f\xfd";
}

struct ZstdInflater::State {};

ZstdInflater::ZstdInflater(std::string_view) {}
ZstdInflater::~ZstdInflater() = default;
bool ZstdInflater::wants_input() const { return false; }
std::span<char> ZstdInflater::input_space() { return {}; }
void ZstdInflater::added(std::size_t) {}
Result<std::size_t> ZstdInflater::inflate(char*, std::size_t) { return reported(kWithoutZstd); }

struct ZstdDeflater::State {};

ZstdDeflater::ZstdDeflater() {}
ZstdDeflater::~ZstdDeflater() = default;
void ZstdDeflater::set_input(std::string_view) {}
Result<std::string_view> ZstdDeflater::deflate(bool) { return reported(kWithoutZstd); }

}  // namespace korvane
