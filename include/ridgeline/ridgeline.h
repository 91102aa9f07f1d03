/* Ridgeline: fingerprint feature extraction and comparison.
 *
 * A small C interface over the engine. An rl_engine turns an 8-bit grey image into features
 * (minutiae, singular points, a quality score and a block direction map), encodes features as a
 * compact template of at most 1024 bytes, checks and decodes such templates, and scores one set
 * of features against another (0..9999); a match level (1..7) selects the score a match needs.
 *
 * It also reads fingerprint image files held in memory (PNG, BMP, PGM/PPM, JPEG, JPEG 2000, TIFF,
 * WSQ and ANSI INCITS 381 / ISO/IEC 19794-4 finger image records, told apart by their bytes) and
 * writes them as PGM, PNG or WSQ.
 *
 * Memory: every handle is created by an rl_*_create / rl_extract / rl_template_decode call and
 * released by the matching rl_*_destroy, which wipes what it held (features are biometric data).
 * Buffers passed in are only read during the call; nothing keeps a pointer to them.
 *
 * Threads: an rl_engine is used by one thread at a time; use one engine per thread. rl_features
 * are read-only after creation and may be read from several threads.
 *
 * Results: every call that can fail returns an rl_status; rl_status_message() names it.
 */
#ifndef RIDGELINE_RIDGELINE_H_
#define RIDGELINE_RIDGELINE_H_

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(RIDGELINE_BUILDING_LIBRARY)
#define RL_API __declspec(dllexport)
#else
#define RL_API __declspec(dllimport)
#endif
#else
#define RL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum rl_status {
  RL_OK = 0,
  RL_E_INVALID_ARGUMENT = 1, /* a null pointer, a negative size, a buffer shorter than stated */
  RL_E_OUT_OF_MEMORY = 2,
  RL_E_IMAGE_SIZE = 3,       /* the image is smaller or larger than the engine takes */
  RL_E_BAD_CAPTURE = 4,      /* too few grey levels, or one level covers most of the image */
  RL_E_TOO_FEW_MINUTIAE = 5, /* the extraction kept fewer minutiae than a template needs */
  RL_E_BAD_TEMPLATE = 6,     /* the bytes are not a well-formed compact template */
  RL_E_BUFFER_TOO_SMALL = 7, /* the output buffer is too small; the size needed is returned */
  RL_E_RESOLUTION = 8,       /* a resolution outside 100..5000 pixels per inch */
  RL_E_BAD_RECORD = 9,       /* the bytes are not a readable minutiae record, or lack the view */
  RL_E_RECORD_CAP = 10,      /* no record fits within the size cap asked for */
  RL_E_BAD_IMAGE = 11        /* not an image file of a known format, or a damaged one */
} rl_status;

/* Coordinates of minutiae and singular points. */
typedef enum rl_frame {
  RL_FRAME_INPUT = 0, /* pixels of the image given to rl_extract, x right, y down */
  RL_FRAME_ENGINE = 1 /* pixels of the engine's working image (550 ppi) less the crop origin */
} rl_frame;

typedef enum rl_minutia_type { RL_ENDING = 0, RL_BIFURCATION = 1 } rl_minutia_type;

typedef struct rl_minutia {
  int32_t x;
  int32_t y;
  /* Degrees 0..359, counter-clockwise from the image's x axis with y pointing down, along the
   * ridge away from the minutia (into the ridge for an ending, into the valley for a
   * bifurcation). */
  int32_t angle;
  int32_t type;    /* rl_minutia_type */
  int32_t quality; /* the engine's local direction variation, 0..255 (lower is steadier) */
} rl_minutia;

typedef struct rl_singular_point {
  int32_t x;
  int32_t y;
  int32_t direction; /* the engine's direction code */
  int32_t type;      /* 1 core, -1 delta, other values as the engine classifies */
} rl_singular_point;

typedef struct rl_engine rl_engine;
typedef struct rl_features rl_features;

/* "1.0.0": the library's version. */
RL_API const char* rl_version(void);
/* The version of the compact template format this library writes and reads. */
RL_API int rl_template_format_version(void);
/* A short English description of a status; never null. */
RL_API const char* rl_status_message(rl_status status);

RL_API rl_status rl_engine_create(rl_engine** engine);
/* Null does nothing. */
RL_API void rl_engine_destroy(rl_engine* engine);

/* Extracts the features of a width x height image of 8-bit grey pixels (0 black .. 255 white),
 * rows of stride bytes (stride >= width), scanned at ppi pixels per inch; images at other than
 * 500 ppi are resampled to 500 ppi first. On RL_OK *features is a new handle. */
RL_API rl_status rl_extract(rl_engine* engine, const uint8_t* pixels, int32_t width, int32_t height,
                            int32_t stride, int32_t ppi, rl_features** features);

RL_API void rl_features_destroy(rl_features* features);

/* Number of minutiae (0..1000) and of singular points. */
RL_API size_t rl_features_minutia_count(const rl_features* features);
RL_API size_t rl_features_singular_point_count(const rl_features* features);
/* The overall quality score, 0..100. */
RL_API int32_t rl_features_quality(const rl_features* features);

/* Copies up to capacity minutiae (or singular points) in the given frame; *count receives the
 * number available. RL_E_BUFFER_TOO_SMALL when capacity is smaller (what fits is written).
 * Features decoded from a template have no input frame: they are given in the engine's. */
RL_API rl_status rl_features_minutiae(const rl_features* features, rl_frame frame,
                                      rl_minutia* minutiae, size_t capacity, size_t* count);
RL_API rl_status rl_features_singular_points(const rl_features* features, rl_frame frame,
                                             rl_singular_point* points, size_t capacity,
                                             size_t* count);

/* The block direction map: cols x rows cells of 16 x 16 engine pixels, row by row, each a
 * direction code 0..119 (1.5-degree steps), 127 for no direction or 255 for background. Copies
 * cols x rows bytes when capacity allows; otherwise RL_E_BUFFER_TOO_SMALL with the sizes set. */
RL_API rl_status rl_features_block_map(const rl_features* features, uint8_t* cells, size_t capacity,
                                       int32_t* cols, int32_t* rows);

/* Encodes features as a compact template (at most 1024 bytes) the way an enrollment stores it.
 * *size receives the template's size; RL_E_BUFFER_TOO_SMALL when capacity is smaller. */
RL_API rl_status rl_template_encode(rl_engine* engine, const rl_features* features, uint8_t* buffer,
                                    size_t capacity, size_t* size);
/* Checks a compact template's structure; RL_OK or RL_E_BAD_TEMPLATE. */
RL_API rl_status rl_template_check(const uint8_t* bytes, size_t size);
/* Checks and decodes a compact template into new features (in the engine frame). */
RL_API rl_status rl_template_decode(rl_engine* engine, const uint8_t* bytes, size_t size,
                                    rl_features** features);

/* Standard finger minutiae records. Formats are told apart by content when read; these are the
 * ones written. */
typedef enum rl_record_format {
  RL_RECORD_ISO19794_2_2005 = 0, /* ISO/IEC 19794-2:2005, the record format */
  RL_RECORD_ISO19794_2_2011 = 1, /* ISO/IEC 19794-2:2011 */
  RL_RECORD_ANSI378_2004 = 2,    /* ANSI INCITS 378-2004 */
  RL_RECORD_ANSI378_2009 = 3     /* ANSI INCITS 378-2009 */
} rl_record_format;

typedef struct rl_record_options {
  int32_t finger_position; /* 0 unknown, 1 right thumb .. 10 left little */
  int32_t impression_type; /* 0 live-scan plain, as the standards number them */
  /* Nonzero: add the engine's own extended-data item (the compact template), with which the
   * record compares exactly like the template; other readers skip it. */
  int32_t engine_item;
  size_t max_bytes; /* 0: no cap; else minutiae (the engine's item first) are left out to fit */
} rl_record_options;

/* The defaults: finger unknown, live-scan plain, with the engine's item, no cap. */
RL_API rl_record_options rl_record_options_default(void);

/* Writes features as a one-view record in the given format. Features from rl_extract are written
 * in the pixels of the image given to it (its size and resolution declared, the resolution in
 * pixels per centimetre); features decoded from a template or imported from a record have no
 * such image and are written in the frame of a 500-ppi capture of the engine's working area.
 * Angles follow the standard convention (as rl_minutia's in RL_FRAME_INPUT); minutia quality is
 * "not reported". options may be null for the defaults. *size receives the record's size;
 * RL_E_BUFFER_TOO_SMALL when capacity is smaller (nothing written), RL_E_RECORD_CAP when
 * max_bytes leaves no room for a record, RL_E_TOO_FEW_MINUTIAE when the features hold none. */
RL_API rl_status rl_record_export(rl_engine* engine, const rl_features* features,
                                  rl_record_format format, const rl_record_options* options,
                                  uint8_t* buffer, size_t capacity, size_t* size);

/* Reads a record (ISO/IEC 19794-2:2005 or :2011, ANSI INCITS 378-2004 or -2009, told apart by
 * their structure; the known slips of real writers accepted) and reports its number of finger
 * views in *views. RL_E_BAD_RECORD when the bytes are not a readable record. */
RL_API rl_status rl_record_view_count(const uint8_t* bytes, size_t size, size_t* views);

/* Imports view number `view` (0-based, in stored order) of a record as new features in the
 * engine frame, ready for rl_compare. A record carrying the engine's item gives exactly the
 * template's features; any other is rebuilt from its standard fields (no singular points, a
 * block map estimated from the minutiae; see the README). RL_E_BAD_RECORD when the bytes are not
 * a readable record or hold no such view. */
RL_API rl_status rl_record_import(rl_engine* engine, const uint8_t* bytes, size_t size, size_t view,
                                  rl_features** features);

/* Scores probe against reference, 0..9999 (higher is more alike). */
RL_API rl_status rl_compare(rl_engine* engine, const rl_features* probe,
                            const rl_features* reference, int32_t* score);

/* The score a comparison needs at a match level (1 lenient .. 7 strict, 4 the default); levels
 * outside 1..7 are clamped. */
RL_API int32_t rl_threshold(int32_t level);
/* 1 when score reaches the threshold of level, else 0. */
RL_API int32_t rl_matches(int32_t score, int32_t level);

/* Image files the library writes. */
typedef enum rl_image_format {
  RL_IMAGE_PGM = 0, /* binary grey map (P5) */
  RL_IMAGE_PNG = 1, /* 8-bit grey PNG */
  RL_IMAGE_WSQ = 2  /* WSQ-compressed grey-scale fingerprint image */
} rl_image_format;

/* Decodes an image file of size bytes into 8-bit grey pixels, width bytes a row, top row first,
 * ready for rl_extract. *ppi receives the resolution the file declares, 0 when it declares none.
 * On RL_OK *pixels is a new buffer of width x height bytes, released with rl_image_free.
 * RL_E_BAD_IMAGE for bytes of no known format, a damaged file or one larger than 4000 pixels a
 * side (an empty file, bytes null with size 0, among them); RL_E_IMAGE_SIZE for a file over
 * 64 MiB. */
RL_API rl_status rl_image_decode(const uint8_t* bytes, size_t size, uint8_t** pixels,
                                 int32_t* width, int32_t* height, int32_t* ppi);

/* Converts an image file of size bytes (any format rl_image_decode reads) into a file of format
 * `to` with the same pixels in 8-bit grey (neither resampled nor trimmed). bitrate, for WSQ only,
 * is the file's size in bits per pixel, 0.1..8 (0.75 is usual; 2.25 keeps more detail); the WSQ
 * comment records it and the resolution the input declares. On RL_OK *out is a new buffer of
 * *out_size bytes, released with rl_image_free. Errors as for rl_image_decode;
 * RL_E_INVALID_ARGUMENT for an unknown format or a WSQ bit rate outside 0.1..8. */
RL_API rl_status rl_image_convert(const uint8_t* bytes, size_t size, rl_image_format to,
                                  double bitrate, uint8_t** out, size_t* out_size);

/* Wipes and releases a buffer of size bytes made by rl_image_decode or rl_image_convert. Null
 * does nothing. */
RL_API void rl_image_free(uint8_t* buffer, size_t size);

/* Overwrites size bytes at memory with zeros in a way the compiler keeps. */
RL_API void rl_wipe(void* memory, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* RIDGELINE_RIDGELINE_H_ */
