#pragma once

// Version of the JSON document's layout. Keys added later are additive: old readers ignore them
// and the version stays; a version changes only when a key's meaning or type changes.
inline constexpr int kJsonSchemaVersion = 2;
