// Gallery identities for the store tests.
#pragma once

#include <cstdint>

#include "tools/store/template_store.h"

namespace ridgeline::testing {

// A GUID identity told apart by one byte, `tag`.
inline tools::IdentityBytes GuidIdentity(uint8_t tag) {
  tools::IdentityBytes identity{};
  identity[0] = 2;  // the GUID identity type
  identity[4] = tag;
  return identity;
}

}  // namespace ridgeline::testing
