// A process-wide cache of shared interface definitions.
#include "tree/interface_cache.hpp"

#include <map>
#include <mutex>
#include <string>

namespace tree {

std::shared_ptr<const InterfaceDef> shared_interface(std::string_view name,
                                                     const std::function<InterfaceDef()>& build) {
  static std::mutex lock;
  static std::map<std::string, std::shared_ptr<const InterfaceDef>, std::less<>> cache;

  std::scoped_lock guard(lock);
  if (auto found = cache.find(name); found != cache.end()) return found->second;
  auto made = std::make_shared<const InterfaceDef>(build());
  cache.emplace(std::string(name), made);
  return made;
}

}  // namespace tree
