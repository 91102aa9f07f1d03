// What every gallery command needs, built in the service's order and torn down in reverse: the
// gallery, its storage adapter session, the loaded engine adapter and the attached host.
#pragma once

#include <iostream>
#include <string>

#include "tools/cli/commands.h"
#include "tools/cli/exit_codes.h"
#include "tools/cli/fingers.h"
#include "tools/cli/reply.h"
#include "tools/host/engine_host.h"
#include "tools/store/name_uuid.h"
#include "tools/store/storage_adapter.h"
#include "tools/store/subject_name.h"

namespace ridgeline::tools {

// How the command opens its gallery: the key file from --key-file or RIDGELINE_KEY_FILE, and
// encryption for a gallery it creates unless --plaintext was given.
GalleryOptions GalleryOptionsFor(const CommonOptions& options);

// Prints the warning about a damaged record that a query left out.
void WarnDamagedRecord(TemplateStore& store, const StoredRecord& record);

struct Workbench {
  Workbench(const CommonOptions& options, TemplateStore::Mode mode)
      : store(options.db, mode, GalleryOptionsFor(options)),
        storage(store),
        library(options.adapter.empty() ? EngineLibrary::DefaultPath() : options.adapter),
        host(library, storage) {
    storage.OnDamagedRecord([this](const StoredRecord& r) { WarnDamagedRecord(store, r); });
  }

  TemplateStore store;
  StorageSession storage;
  EngineLibrary library;
  EngineHost host;
};

// The stable identity of a subject name.
inline WINBIO_IDENTITY SubjectIdentity(const std::string& name) {
  return GuidIdentity(NameBasedUuid(kSubjectNamespace, name));
}

// The name normalised as the gallery keeps it. Throws InputError for a name it refuses.
std::string CheckedSubject(const std::string& name);

// "alice" (escaped for the terminal), or the GUID when the identity was never named in this
// gallery.
std::string DisplayName(TemplateStore& store, const WINBIO_IDENTITY& identity);

// Throws InputError for a name that is not a finger.
uint8_t ParseFinger(const std::string& name);

int ExitCodeFor(Outcome outcome);

// Throws CommandFailure with the result's exit code and message. REQUIRES: an outcome whose
// exit code is 2, 3 or 4.
[[noreturn]] void Fail(const HostResult& result);

// Prepares each capture, giving the host's notes (resampling, trimming) to the reply.
Capture PrepareWithNotes(const std::filesystem::path& path, const CaptureOptions& options,
                         Reply& reply);

}  // namespace ridgeline::tools
