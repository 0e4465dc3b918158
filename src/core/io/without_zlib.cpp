// GzipInflater and GzipDeflater for a build without zlib (its headers were not
// found): gzip magic is still recognised, so that reading or writing a gzip file
// fails with a message that says why instead of misreading the bytes.
#include <string>

#include "core/io/gzip_deflater.h"
#include "core/io/gzip_inflater.h"

namespace korvane {
namespace {

constexpr const char* kWithoutZlib = "this korvane was built without gzip support";

}  // namespace

bool has_gzip_magic(std::string_view first_bytes) {
  return first_bytes.size() >= 2 && first_bytes[0] == '\x1f' && first_bytes[1] == '\x8b';
}

struct GzipInflater::State {};

GzipInflater::GzipInflater(std::string_view) {}
GzipInflater::~GzipInflater() = default;
bool GzipInflater::wants_input() const { return false; }
std::span<char> GzipInflater::input_space() { return {}; }
void GzipInflater::added(std::size_t) {}
Result<std::size_t> GzipInflater::inflate(char*, std::size_t) { return reported(kWithoutZlib); }

struct GzipDeflater::State {};

GzipDeflater::GzipDeflater(int) {}
GzipDeflater::~GzipDeflater() = default;
void GzipDeflater::set_input(std::string_view) {}
Result<std::string_view> GzipDeflater::deflate(bool) { return reported(kWithoutZlib); }

}  // namespace korvane
