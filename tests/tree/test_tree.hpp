#pragma once
// A real tree with one object whose properties cover every access rule and change mode.
#include <cstdint>
#include <memory>
#include <string>

#include "tree/object_tree.hpp"

namespace tree_test {

inline constexpr const char* object_path = "/test/object";

// The object's user data: what the getters read and the setters change.
struct Values {
  std::int32_t level = 7;
  std::int32_t cached = 1;
  std::int32_t quiet = 2;
  std::int32_t silent = 3;
  std::int32_t broken = 4;
  std::string secret;
};

// com.test.Things (Broken, Cached, Constant, Fixed, Level, Quiet, Secret, Silent),
// com.test.Gauges (B, Ba, Hidden, a), com.test.Plain (Refuse, Twice, Nothing), Introspectable
// and the Properties interface that add_interface brings along.
tree::TreeObject test_object(std::shared_ptr<Values> values);
tree::ObjectTree test_tree(std::shared_ptr<Values> values);

// A readwrite property of type "i" backed by `slot` of the object's Values.
tree::PropertyDef int_property(std::string name, std::int32_t Values::*slot);

}  // namespace tree_test
