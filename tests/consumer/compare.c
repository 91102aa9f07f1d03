/* Extracts two prints (binary PGM at 500 ppi) and compares them with the C interface:
 *   compare_c PROBE.pgm REFERENCE.pgm   prints "score S threshold T match|no match" */
#include <ridgeline/ridgeline.h>
#include <stdio.h>
#include <stdlib.h>

#include "pgm.h"

static rl_features* extract(rl_engine* engine, const char* path) {
  int width = 0, height = 0;
  unsigned char* pixels = read_pgm(path, &width, &height);
  if (pixels == NULL) {
    fprintf(stderr, "%s: not a binary PGM\n", path);
    return NULL;
  }
  rl_features* features = NULL;
  rl_status status = rl_extract(engine, pixels, width, height, width, 500, &features);
  rl_wipe(pixels, (size_t)width * (size_t)height);
  free(pixels);
  if (status != RL_OK) fprintf(stderr, "%s: %s\n", path, rl_status_message(status));
  return features;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: compare_c PROBE.pgm REFERENCE.pgm\n");
    return 2;
  }
  rl_engine* engine = NULL;
  if (rl_engine_create(&engine) != RL_OK) return 2;
  rl_features* probe = extract(engine, argv[1]);
  rl_features* reference = extract(engine, argv[2]);
  int result = 2;
  if (probe != NULL && reference != NULL) {
    /* Store the reference as a template and compare against it, as a verification does. */
    unsigned char stored[1024];
    size_t size = 0;
    rl_features* enrolled = NULL;
    int32_t score = 0;
    if (rl_template_encode(engine, reference, stored, sizeof stored, &size) == RL_OK &&
        rl_template_decode(engine, stored, size, &enrolled) == RL_OK &&
        rl_compare(engine, probe, enrolled, &score) == RL_OK) {
      printf("ridgeline %s: %zu and %zu minutiae, score %d threshold %d %s\n", rl_version(),
             rl_features_minutia_count(probe), rl_features_minutia_count(reference), score,
             rl_threshold(4), rl_matches(score, 4) ? "match" : "no match");
      result = rl_matches(score, 4) ? 0 : 1;
    }
    rl_features_destroy(enrolled);
  }
  rl_features_destroy(probe);
  rl_features_destroy(reference);
  rl_engine_destroy(engine);
  return result;
}
