// SPDX-License-Identifier: LGPL-2.1-or-later
// Lists the plug-ins of a CLAP file as a host finds them: loads the file,
// initialises its entry with the file's path, and prints one line a
// plug-in, "ID<TAB>NAME<TAB>VERSION", from the plug-in factory.
//   clap_list FILE.clap
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <clap/entry.h>
#include <clap/plugin-factory.h>

int main(int argc, char** argv)
{
  if (argc != 2) {
    fprintf(stderr, "usage: clap_list FILE.clap\n");
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  const clap_plugin_entry_t* entry = (const clap_plugin_entry_t*)dlsym(lib, "clap_entry");
  if (entry == NULL || !clap_version_is_compatible(entry->clap_version) || !entry->init(argv[1])) {
    fprintf(stderr, "%s has no usable clap_entry\n", argv[1]);
    return 1;
  }
  const clap_plugin_factory_t* factory =
      (const clap_plugin_factory_t*)entry->get_factory(CLAP_PLUGIN_FACTORY_ID);
  int status = factory == NULL;
  const uint32_t count = factory != NULL ? factory->get_plugin_count(factory) : 0;
  for (uint32_t i = 0; i < count; ++i) {
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, i);
    if (d == NULL) {
      status = 1;
      continue;
    }
    printf("%s\t%s\t%s\n", d->id, d->name, d->version != NULL ? d->version : "");
  }
  entry->deinit();
  dlclose(lib);
  return status;
}
