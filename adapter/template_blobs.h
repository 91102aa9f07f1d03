// Views of the two TemplateContainer blobs the adapter compares: the one a storage record
// carries and the open enrollment's. A missing blob is an empty view, never a null pointer with
// a size.
#pragma once

#include <cstdint>
#include <span>

#include "adapter/engine_context.h"
#include "platform/winbio_types.h"

namespace ridgeline {

inline std::span<const uint8_t> StoredTemplate(const WINBIO_STORAGE_RECORD& record) {
  if (record.TemplateBlob == nullptr) return {};
  return {record.TemplateBlob, record.TemplateBlobSize};
}

inline std::span<const uint8_t> EnrollmentTemplate(const EnrollmentState& enrollment) {
  if (enrollment.Template == nullptr) return {};
  return {enrollment.Template, enrollment.TemplateSize};
}

}  // namespace ridgeline
