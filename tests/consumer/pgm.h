/* A binary PGM (P5, maxval 255) reader for the examples: enough to load a 500-ppi print. */
#ifndef RIDGELINE_CONSUMER_PGM_H_
#define RIDGELINE_CONSUMER_PGM_H_

#include <stdio.h>
#include <stdlib.h>

/* Reads path into a malloc'd buffer of *width x *height bytes; null on any problem. */
static unsigned char* read_pgm(const char* path, int* width, int* height) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  int maxval = 0;
  unsigned char* pixels = NULL;
  if (fscanf(file, "P5 %d %d %d", width, height, &maxval) == 3 && maxval == 255 && *width > 0 &&
      *height > 0 && *width < 5000 && *height < 5000 && fgetc(file) != EOF) {
    size_t size = (size_t)*width * (size_t)*height;
    pixels = (unsigned char*)malloc(size);
    if (pixels != NULL && fread(pixels, 1, size, file) != size) {
      free(pixels);
      pixels = NULL;
    }
  }
  fclose(file);
  return pixels;
}

#endif
