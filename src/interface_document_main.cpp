// ble-interface-document FILE: writes the interface the service publishes, in the form code
// generators read from the system's interface directory. The build runs it; it is not installed.
#include <cstdio>
#include <fstream>
#include <string>

#include "src/conf/range_property.hpp"
#include "tree/introspection.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: ble-interface-document FILE\n", stderr);
    return 2;
  }
  const std::string document = tree::interface_document(src::legacy_configuration_interface());
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << document;
  file.close();
  if (!file) {
    std::fprintf(stderr, "Error: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
