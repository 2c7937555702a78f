/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Loads one of the shipped libraries with dlopen and calls every entry point
 * that creates something that the library exports (the engines' `_new`, the
 * plug-in's instantiate through its LV2 descriptor), after calling each
 * `_free(NULL)`.
 *
 *   create_everything LIBRARY null      every creation must give NULL
 *   create_everything LIBRARY created   every creation must succeed
 *
 * Built for baseline x86-64 and run under an emulated processor below the
 * build's level ("null") or at it ("created"); a library that executed an
 * instruction the processor lacks kills this program with SIGILL, which the
 * calling script reports. Exit 0 when every answer is as expected. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <lv2/core/lv2.h>

typedef void* (*tembra_new_fn)(int, int, float, float, unsigned short);
typedef void* (*quivex_new_fn)(unsigned long);
typedef void* (*tracking_new_fn)(int, const float*, const float*, const float*, const float*,
                                 float);
typedef void* (*osc_new_fn)(int, const float*, const float*, float);
typedef void* (*damp_new_fn)(int, const float*, const float*, const float*, float);
typedef void* (*filter_new_fn)(int);
typedef void (*free_fn)(void*);

enum { N = 4 };
static const float freqs[N] = {110.0f, 220.0f, 440.0f, 880.0f};
static const float amps[N] = {0.1f, 0.2f, 0.3f, 0.4f};
static const float coefs[N] = {0.01f, 0.02f, 0.03f, 0.04f};

static int failures;
static int found;

/* The `_free` of `name`, called with NULL; NULL when the library lacks it. */
static free_fn free_of(void* lib, const char* name)
{
  char free_name[96];
  snprintf(free_name, sizeof free_name, "%.*s_free", (int)(strlen(name) - 4), name);
  free_fn f = (free_fn)dlsym(lib, free_name);
  if (f) {
    f(NULL);
  } else {
    printf("FAIL %s is exported without %s\n", name, free_name);
    ++failures;
  }
  return f;
}

static void check(const char* name, void* made, free_fn release, int want_created)
{
  ++found;
  if ((made != NULL) != want_created) {
    printf("FAIL %s gave %s\n", name, made ? "an object" : "NULL");
    ++failures;
  } else {
    printf("ok   %s gave %s\n", name, made ? "an object" : "NULL");
  }
  if (made && release) {
    release(made);
  }
}

int main(int argc, char** argv)
{
  if (argc != 3 || (strcmp(argv[2], "null") != 0 && strcmp(argv[2], "created") != 0)) {
    fprintf(stderr, "usage: create_everything LIBRARY null|created\n");
    return 2;
  }
  const int want = strcmp(argv[2], "created") == 0;
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "create_everything: %s\n", dlerror());
    return 2;
  }
  void* sym;
  free_fn release;
  if ((sym = dlsym(lib, "libtembra_new"))) {
    release = free_of(lib, "libtembra_new");
    check("libtembra_new", ((tembra_new_fn)sym)(48000, 112, 20.0f, 20000.0f, 31), release, want);
  }
  if ((sym = dlsym(lib, "libquivex_new"))) {
    release = free_of(lib, "libquivex_new");
    check("libquivex_new", ((quivex_new_fn)sym)(48000), release, want);
  }
  if ((sym = dlsym(lib, "tracking_resonator_bank_vec_new"))) {
    release = free_of(lib, "tracking_resonator_bank_vec_new");
    check("tracking_resonator_bank_vec_new",
          ((tracking_new_fn)sym)(N, freqs, coefs, coefs, coefs, 48000.0f), release, want);
  }
  if ((sym = dlsym(lib, "oscillator_bank_vec_new"))) {
    release = free_of(lib, "oscillator_bank_vec_new");
    check("oscillator_bank_vec_new", ((osc_new_fn)sym)(N, amps, freqs, 48000.0f), release, want);
  }
  if ((sym = dlsym(lib, "damp_oscillator_bank_vec_new"))) {
    release = free_of(lib, "damp_oscillator_bank_vec_new");
    check("damp_oscillator_bank_vec_new", ((damp_new_fn)sym)(N, amps, freqs, coefs, 48000.0f),
          release, want);
  }
  if ((sym = dlsym(lib, "filter_time_new"))) {
    release = free_of(lib, "filter_time_new");
    check("filter_time_new", ((filter_new_fn)sym)(112), release, want);
  }
  if ((sym = dlsym(lib, "lv2_descriptor"))) {
    const LV2_Descriptor* d = ((LV2_Descriptor_Function)sym)(0);
    if (!d) {
      printf("FAIL lv2_descriptor(0) gave NULL\n");
      ++failures;
    } else {
      /* A host may ask for extension data before it instantiates. */
      (void)d->extension_data(LV2_CORE__extensionData);
      const LV2_Feature* const features[] = {NULL};
      LV2_Handle h = d->instantiate(d, 48000.0, "", features);
      ++found;
      if ((h != NULL) != want) {
        printf("FAIL instantiate gave %s\n", h ? "an instance" : "NULL");
        ++failures;
      } else {
        printf("ok   instantiate gave %s\n", h ? "an instance" : "NULL");
      }
      if (h) {
        d->cleanup(h);
      }
    }
  }
  if (found == 0) {
    printf("FAIL %s exports no entry point that creates something\n", argv[1]);
    ++failures;
  }
  dlclose(lib);
  return failures == 0 ? 0 : 1;
}
