// The host: our stand-in for the biometric service. It owns one unit's pipeline (engine handle
// starting as INVALID_HANDLE_VALUE, the gallery's storage adapter, the engine context the
// adapter hangs on it), attaches the engine on construction and detaches it on destruction,
// and drives the entry points in the service's order for an enrollment, a verification or an
// identification. Every adapter result comes back as an Outcome with a message for people.
#pragma once

#include <string>
#include <vector>

#include "image/print_image.h"
#include "platform/winbio_types.h"
#include "tools/host/engine_library.h"
#include "tools/store/storage_adapter.h"

namespace ridgeline::tools {

// Where a capture's pixels lie in the file it came from: the capture is the file resampled to
// 500 dpi, then trimmed, so capture pixel (x, y) is file pixel
// ((x + trim_left) * file_per_capture, (y + trim_top) * file_per_capture).
struct CaptureFrame {
  double file_per_capture = 1;  // the file's resolution / 500 dpi
  int trim_left = 0;            // capture pixels, at 500 dpi
  int trim_top = 0;
  // The file's own image: its size, and the resolution it was taken at (declared, or --dpi).
  int source_width = 0;
  int source_height = 0;
  int source_dpi = 500;
};

// One image ready for the sensor side to hand over: 500 dpi grey, trimmed as asked.
struct Capture {
  std::string name;  // the file it came from, for messages
  PrintImage image;
  CaptureFrame frame;  // where the image lies in the file's own
};

enum class Outcome {
  kSuccess,        // enrolled; verified (match); identified
  kNoMatch,        // verification: not the same finger
  kUnknown,        // identification: nobody in the gallery matches
  kBadCapture,     // the engine refused a capture (reject detail in the result)
  kDuplicate,      // enrollment: the finger is already enrolled (identity in the result)
  kAlreadyStored,  // enrollment: this subject already has a template for this finger
  kStorageError,   // the gallery failed
  kEngineError,    // any other adapter result
};

struct HostResult {
  Outcome outcome = Outcome::kEngineError;
  HRESULT hr = S_OK;
  std::string message;  // empty on success
  std::string capture;  // the capture a bad-capture outcome refers to
  WINBIO_REJECT_DETAIL reject_detail = 0;
  WINBIO_IDENTITY identity{};  // identified or duplicate identity
  WINBIO_BIOMETRIC_SUBTYPE sub_factor = 0;
  int impressions = 0;  // enrollment: captures merged
};

// The framework's name for a result code, e.g. "WINBIO_E_NO_MATCH", or its hex value.
std::string ResultName(HRESULT hr);

class EngineHost {
 public:
  // Attaches the engine to a fresh pipeline over storage. Throws HostError when it refuses.
  EngineHost(const EngineLibrary& library, StorageSession& storage)
      : EngineHost(library.table(), storage) {}
  // The same for a table already in hand. REQUIRES: DescribeTableProblem(engine) is empty.
  EngineHost(const WINBIO_ENGINE_INTERFACE& engine, StorageSession& storage);
  ~EngineHost();
  EngineHost(const EngineHost&) = delete;
  EngineHost& operator=(const EngineHost&) = delete;

  // Create, then per capture AcceptSampleData and UpdateEnrollment, then GetEnrollmentStatus,
  // CheckForDuplicate and CommitEnrollment, the last two inside one write transaction of the
  // gallery. Anything short of a commit discards the enrollment and stores nothing.
  HostResult Enroll(const std::vector<Capture>& captures, const WINBIO_IDENTITY& identity,
                    WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HostResult Verify(const Capture& capture, const WINBIO_IDENTITY& identity,
                    WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HostResult Identify(const Capture& capture);

 private:
  HostResult Accept(const Capture& capture, WINBIO_BIR_PURPOSE purpose,
                    WINBIO_BIOMETRIC_SUBTYPE sub_factor);
  HostResult Failure(HRESULT hr, const std::string& step, const Capture* capture,
                     WINBIO_REJECT_DETAIL reject);
  void EndEnrollment();

  const WINBIO_ENGINE_INTERFACE& engine_;
  StorageSession& storage_;
  WINBIO_PIPELINE pipeline_{};
  bool attached_ = false;
};

}  // namespace ridgeline::tools
