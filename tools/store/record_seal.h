// How a record's template is kept in the gallery. Every record carries a tag over its identity,
// finger, payload and template, so that a damaged or tampered record is recognised before its
// bytes reach the engine:
//   kChecksum  the template as the engine made it; the tag is a BLAKE2b-256 hash.
//   kSealed    the template encrypted with XChaCha20-Poly1305 (IETF) under the gallery's key
//              and a random 24-byte nonce; the tag is the AEAD's 16-byte tag. Identity, finger
//              and payload are the associated data, so a record copied onto another subject or
//              finger fails to open.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/store/gallery_key.h"

namespace ridgeline::tools {

enum class SealKind : int { kChecksum = 0, kSealed = 1 };

struct SealedTemplate {
  SealKind kind = SealKind::kChecksum;
  std::vector<uint8_t> stored;  // the template column: plaintext or ciphertext
  std::vector<uint8_t> nonce;   // empty for kChecksum
  std::vector<uint8_t> tag;
};

// What a record is bound to besides its template.
struct RecordBinding {
  std::span<const uint8_t> identity;
  uint8_t sub_factor = 0;
  std::span<const uint8_t> payload;
};

// Seals with key when it is given, else tags with a checksum.
SealedTemplate SealTemplate(const RecordBinding& binding, std::span<const uint8_t> plain,
                            const GalleryKey* key);

// Checks the tag and recovers the template into *plain. Returns an empty string when the
// record is intact, otherwise why it is not (for people). A sealed record cannot be opened
// without a key.
std::string OpenTemplate(const RecordBinding& binding, const SealedTemplate& sealed,
                         const GalleryKey* key, std::vector<uint8_t>* plain);

// The container's structure: an 8-byte header (version 0, at least one entry, type 2001) and
// that many length-prefixed entries inside the blob. The tag vouches for records written with
// one; records of galleries written before tags existed are given a tag on upgrade only when
// they pass this check.
bool ContainerStructureIntact(std::span<const uint8_t> container);

}  // namespace ridgeline::tools
