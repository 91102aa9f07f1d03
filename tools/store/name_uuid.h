// Stable identities for subject names: a name-based (version 5, SHA-1) UUID in the tool's own
// namespace, so the same name always maps to the same identity in every gallery.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ridgeline::tools {

using Uuid = std::array<uint8_t, 16>;  // in the byte order of its text form

std::array<uint8_t, 20> Sha1(std::string_view data);

// The version 5 UUID of name within namespace_id.
Uuid NameBasedUuid(const Uuid& namespace_id, std::string_view name);

// The namespace of subject names in ridgeline galleries.
constexpr Uuid kSubjectNamespace = {0x6b, 0x1f, 0x3e, 0x52, 0x9a, 0x0c, 0x4d, 0x21,
                                    0xb7, 0x44, 0x52, 0x44, 0x4c, 0x4e, 0x00, 0x01};

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower case.
std::string UuidText(const Uuid& uuid);

}  // namespace ridgeline::tools
