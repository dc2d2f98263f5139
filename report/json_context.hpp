#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "reporter.hpp"

// The "context" object of the JSON document: where, how and when the results were made. Key
// names follow Google Benchmark's where it has one.

// Version of the document's layout; lubench-report compare reads only this one.
inline constexpr int kJsonSchemaVersion = 2;

nlohmann::ordered_json contextJson(const SweepContext& context);

// True when key is one of the context's own keys, which --context may not replace.
bool isReservedContextKey(const std::string& key);
