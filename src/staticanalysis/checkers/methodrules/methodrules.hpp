// Checks on how a module lays out its models: too many models, model names
// sharing a long prefix, the order of the standard model members.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "staticanalysis/helpers/checker_support.hpp"
#include "staticanalysis/helpers/facade.hpp"

namespace tessary::methodrules {

// The standard members of a model, in the order they must appear, all of
// them before custom methods.
inline constexpr std::string_view STANDARD_METHODRULES[] = {"Meta", "__str__", "save", "get_absolute_url"};

// This module's entries of the rule registry.
inline constexpr std::span<const Rule> kRules = rules_of("methodrules");

inline constexpr IntOption kOptions[] = {
    {"max-models", 10, "Maximum number of models per module"},
    {"min-common-model-prefix-length", 4, "Minimum length of model prefixes"},
    {"max-common-model-prefix", 4, "Maximum number of models that can have the same prefix"},
};

// Where the CamelCase (or snake_case) words of a class name start, after
// the first: "HTTPRequestLog" gives 4 and 11.
std::vector<size_t> word_starts(const std::string& name);
// The name without its leading "Abstract" and "Base" words.
std::string without_generic_words(const std::string& name);
// Counts of the prefixes made of whole words (at least min_length
// characters, never a whole name), in first-insertion order.
std::vector<std::pair<std::string, long>> get_longest_common_prefix(const std::vector<std::string>& values,
                                                                    long min_length);

const py::object& checker_class();
void bind(py::module_& m);

}  // namespace tessary::methodrules
