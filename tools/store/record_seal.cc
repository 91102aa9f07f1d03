#include "tools/store/record_seal.h"

#include <sodium.h>

namespace ridgeline::tools {
namespace {

constexpr char kDomain[] = "ridgeline record 2";

// The associated data, length-prefixed so that no two bindings give the same bytes.
std::vector<uint8_t> BindingBytes(const RecordBinding& binding) {
  std::vector<uint8_t> bytes(kDomain, kDomain + sizeof kDomain - 1);
  auto put32 = [&](size_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put32(binding.identity.size());
  bytes.insert(bytes.end(), binding.identity.begin(), binding.identity.end());
  bytes.push_back(binding.sub_factor);
  put32(binding.payload.size());
  bytes.insert(bytes.end(), binding.payload.begin(), binding.payload.end());
  return bytes;
}

std::vector<uint8_t> Checksum(const std::vector<uint8_t>& bound, std::span<const uint8_t> plain) {
  std::vector<uint8_t> tag(crypto_generichash_BYTES);
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, tag.size());
  crypto_generichash_update(&state, bound.data(), bound.size());
  crypto_generichash_update(&state, plain.data(), plain.size());
  crypto_generichash_final(&state, tag.data(), tag.size());
  return tag;
}

}  // namespace

SealedTemplate SealTemplate(const RecordBinding& binding, std::span<const uint8_t> plain,
                            const GalleryKey* key) {
  if (sodium_init() < 0) throw StoreError("the cryptographic library cannot start");
  const std::vector<uint8_t> bound = BindingBytes(binding);
  SealedTemplate sealed;
  if (key == nullptr) {
    sealed.kind = SealKind::kChecksum;
    sealed.stored.assign(plain.begin(), plain.end());
    sealed.tag = Checksum(bound, plain);
    return sealed;
  }
  sealed.kind = SealKind::kSealed;
  sealed.nonce.resize(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
  randombytes_buf(sealed.nonce.data(), sealed.nonce.size());
  sealed.stored.resize(plain.size());
  sealed.tag.resize(crypto_aead_xchacha20poly1305_ietf_ABYTES);
  unsigned long long tag_size = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt_detached(
      sealed.stored.data(), sealed.tag.data(), &tag_size, plain.data(), plain.size(), bound.data(),
      bound.size(), nullptr, sealed.nonce.data(), key->data());
  return sealed;
}

std::string OpenTemplate(const RecordBinding& binding, const SealedTemplate& sealed,
                         const GalleryKey* key, std::vector<uint8_t>* plain) {
  if (sodium_init() < 0) return "the cryptographic library cannot start";
  plain->clear();
  const std::vector<uint8_t> bound = BindingBytes(binding);
  if (sealed.kind == SealKind::kChecksum) {
    if (sealed.tag.size() != crypto_generichash_BYTES) return "its checksum is missing";
    if (sodium_memcmp(Checksum(bound, sealed.stored).data(), sealed.tag.data(),
                      sealed.tag.size()) != 0) {
      return "its checksum does not match its contents";
    }
    *plain = sealed.stored;
  } else if (sealed.kind == SealKind::kSealed) {
    if (key == nullptr) return "it is encrypted and no key is loaded";
    if (sealed.nonce.size() != crypto_aead_xchacha20poly1305_ietf_NPUBBYTES ||
        sealed.tag.size() != crypto_aead_xchacha20poly1305_ietf_ABYTES) {
      return "its encryption header is damaged";
    }
    plain->resize(sealed.stored.size());
    if (crypto_aead_xchacha20poly1305_ietf_decrypt_detached(
            plain->data(), nullptr, sealed.stored.data(), sealed.stored.size(), sealed.tag.data(),
            bound.data(), bound.size(), sealed.nonce.data(), key->data()) != 0) {
      WipeBytes(plain->data(), plain->size());
      plain->clear();
      return "it fails its authentication check: damaged, or moved to another subject or finger";
    }
  } else {
    return "it is sealed in an unknown way";
  }
  return "";
}

bool ContainerStructureIntact(std::span<const uint8_t> container) {
  constexpr size_t kHeader = 8;
  constexpr uint16_t kTemplateType = 2001;
  if (container.size() < kHeader) return false;
  const uint8_t version = container[4];
  const uint8_t count = container[5];
  const uint16_t type = static_cast<uint16_t>(container[6] | (container[7] << 8));
  if (version != 0 || count == 0 || type != kTemplateType) return false;
  size_t pos = kHeader;
  for (int entry = 0; entry < count; ++entry) {
    if (container.size() - pos < 2) return false;
    const size_t length = container[pos] | (size_t{container[pos + 1]} << 8);
    pos += 2;
    if (container.size() - pos < length) return false;
    pos += length;
  }
  return true;
}

}  // namespace ridgeline::tools
