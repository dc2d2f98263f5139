#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "json_schema.hpp"
#include "reporter.hpp"

// The "context" object of the JSON document: where, how and when the results were made. Key
// names follow Google Benchmark's where it has one.

nlohmann::ordered_json contextJson(const SweepContext& context);

// True when key is one of the context's own keys, which --context may not replace.
bool isReservedContextKey(const std::string& key);
