// The argument binder: fills a fixed array of borrowed slots from a fast call
// with keywords, in the order positional, keyword, missing, and converts each
// slot with its Converter, naming the parameter in type errors.
#pragma once

#include "python/convert.h"

#include <cstddef>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace korvane::py {

inline constexpr std::size_t kMaxParams = 16;

struct FunctionSpec {
  const char* name;
  const char* const* params;  // parameter names, in declaration order
  std::size_t num_params;
  std::size_t num_required;  // the first num_required parameters have no default
  const char* doc;
};

using Slots = std::array<PyObject*, kMaxParams>;

// Binds arguments to slots (borrowed; nullptr = not passed). False with TypeError set.
bool bind(const FunctionSpec& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
          Slots& slots);

// Re-raises a TypeError (exactly that class) as "argument 'P': <message>",
// keeping the original's cause. Other errors are left as they are.
void prefix_argument_error(const char* param);

// Converts each passed slot into the matching tuple element; an unpassed slot
// keeps the element's initial (default) value and is not converted.
template <class... P>
bool convert_args(const FunctionSpec& signature, const Slots& slots, std::tuple<P...>& values) {
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    bool ok = true;
    auto one = [&](auto& out, std::size_t i) {
      if (!ok || slots[i] == nullptr) return;
      using T = std::remove_reference_t<decltype(out)>;
      if (!Converter<T>::from_py(slots[i], out)) {
        prefix_argument_error(signature.params[i]);
        ok = false;
      }
    };
    (one(std::get<I>(values), I), ...);
    return ok;
  }(std::index_sequence_for<P...>());
}

// A whole module-function call: bind, convert in parameter order, then run
// `body` with the converted values. `defaults` holds every parameter's native
// default (ignored for required ones).
template <class Body, class... P>
PyObject* call(const FunctionSpec& signature, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames, std::tuple<P...> defaults, Body&& body) noexcept {
  static_assert(sizeof...(P) <= kMaxParams);
  return guard([&]() -> PyObject* {
    Slots slots{};
    if (!bind(signature, args, nargsf, kwnames, slots)) return nullptr;
    if (!convert_args(signature, slots, defaults)) return nullptr;
    return std::apply(body, defaults);
  });
}

}  // namespace korvane::py
