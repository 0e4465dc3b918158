/// @file korvane/korvane.hpp
/// @brief The whole C++ API of korvane: include this one header.
///
/// The API lives in namespace korvane (its inline namespace v0 versions the
/// symbols while the major version is 0). Nothing here throws and nothing is
/// global: each long call takes a RunOptions with its thread count and stop token.
#pragma once

#include "korvane/version.hpp"
#include "korvane/errors.hpp"
#include "korvane/records.hpp"
#include "korvane/readers.hpp"
#include "korvane/generation_params.hpp"
#include "korvane/generation.hpp"
#include "korvane/writers.hpp"
#include "korvane/generators.hpp"
