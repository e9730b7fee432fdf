// Writes generation after generation of a file through libcfgkit, printing each generation's
// number once the library has reported it stored. The power-loss test kills it at random.
// Usage: cfgkit_writer PATH FIRST_GENERATION [COUNT]   (COUNT 0 or absent: until killed)
#include <cfgkit.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/reliability/generations.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: cfgkit_writer PATH FIRST_GENERATION [COUNT]\n", stderr);
    return 2;
  }
  const std::string path = argv[1];
  const std::size_t first = std::strtoull(argv[2], nullptr, 10);
  const std::size_t count = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
  for (std::size_t generation = first; count == 0 || generation < first + count; ++generation) {
    const std::string contents = reliability::generation_contents(generation);
    GError* error = nullptr;
    if (cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.c_str(), contents.size(), ::getuid(), ::getgid(),
                                                0644, &error) == 0) {
      std::fprintf(stderr, "generation %zu: %s\n", generation, error != nullptr ? error->message : "no error record");
      g_clear_error(&error);
      return 1;
    }
    std::printf("%zu\n", generation);
    std::fflush(stdout);
  }
  return 0;
}
