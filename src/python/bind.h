// The argument binder: fills a fixed array of borrowed slots from a fast call
// with keywords, in the order positional, keyword, missing, and converts each
// slot with its Converter, naming the parameter in type errors.
#pragma once

#include "python/convert.h"
#include "python/py_errors.h"
#include "core/base/parallel.h"

#include <cstdlib>

#include <cstddef>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace korvane::py {

inline constexpr std::size_t kMaxParams = 16;

// A module function's signature: its name, its parameter names in declaration
// order (the first num_required have no default) and its docstring. The
// parameter count is the length of the name table.
template <std::size_t N>
struct Signature {
  const char* name;
  const char* const (&params)[N];
  std::size_t num_required;
  const char* doc;

  static constexpr std::size_t num_params = N;
};
template <std::size_t N>
Signature(const char*, const char* const (&)[N], std::size_t, const char*) -> Signature<N>;

// What the binder needs of a signature, without its length in the type.
struct SignatureView {
  const char* name;
  const char* const* params;
  std::size_t num_params;
  std::size_t num_required;
};

template <std::size_t N>
constexpr SignatureView view_of(const Signature<N>& signature) {
  return {signature.name, signature.params, N, signature.num_required};
}

using Slots = std::array<PyObject*, kMaxParams>;

// Binds arguments to slots (borrowed; nullptr = not passed). False with TypeError
// set. Allocates only to build the message of a failure.
bool bind(const SignatureView& signature, PyObject* const* args, Py_ssize_t nargsf,
          PyObject* kwnames, Slots& slots);

// Re-raises a TypeError (exactly that class) as "argument 'P': <message>",
// keeping the original's cause. Other errors are left as they are.
void prefix_argument_error(const char* param);

// Converts each passed slot into the matching tuple element; an unpassed slot
// keeps the element's initial (default) value and is not converted.
template <class... P>
bool convert_args(const SignatureView& signature, const Slots& slots, std::tuple<P...>& values) {
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

// The thread count KORVANE_NUM_THREADS asks of the call's core routines, read
// here with the interpreter lock held (os.environ writes hold it too): 0, the
// cores, when it is unset or empty. False with ValueError set when it is not a
// positive integer.
inline bool threads_from_environment(std::size_t& threads) {
  const char* text = std::getenv("KORVANE_NUM_THREADS");
  threads = 0;
  if (text == nullptr || *text == '\0') return true;
  Result<std::size_t> parsed = parse_thread_count(text);
  if (!parsed.ok()) {
    raise(parsed.error(), PyExc_ValueError);
    return false;
  }
  threads = parsed.value();
  return true;
}

// A whole module-function call: bind, convert in parameter order, read the
// thread count, then run `body` with the converted values. `defaults` holds every parameter's native
// default (ignored for required ones), one per entry of the signature's table.
template <const auto& kSignature, class Body, class... P>
PyObject* call(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
               std::tuple<P...> defaults, Body&& body) noexcept {
  static_assert(kSignature.num_params == sizeof...(P),
                "the converted tuple must have one element per parameter name");
  static_assert(kSignature.num_required <= kSignature.num_params);
  static_assert(sizeof...(P) <= kMaxParams);
  constexpr SignatureView signature = view_of(kSignature);
  return guard([&]() -> PyObject* {
    Slots slots{};
    if (!bind(signature, args, nargsf, kwnames, slots)) return nullptr;
    if (!convert_args(signature, slots, defaults)) return nullptr;
    std::size_t threads = 0;
    if (!threads_from_environment(threads)) return nullptr;
    const ThreadCountScope thread_setting(threads);
    Ref result = Ref::steal(std::apply(body, defaults));
    // A cancellation poll that ran the signal handlers leaves their exception
    // set even when the routine went on to finish: the exception wins.
    if (result && PyErr_Occurred() != nullptr) return nullptr;
    return result.release();
  });
}

}  // namespace korvane::py
