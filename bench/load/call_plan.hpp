#pragma once
// The requests of one call kind and the check that every reply to them must pass.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "bench/load/options.hpp"
#include "dbus/message.hpp"
#include "dbus/message_reader.hpp"

namespace bench {

class CallPlan {
 public:
  explicit CallPlan(const LoadOptions& options);

  // The index-th request; Set cycles through the levels by index.
  dbus::Message request(std::uint64_t index) const;

  // Empty when the reply is what a correct server answers. The first Introspect and GetId
  // replies become the reference that all later ones must equal byte for byte.
  std::expected<void, std::string> check(const dbus::Message& reply);

 private:
  // The variant at the cursor, which it passes.
  std::expected<void, std::string> check_range_variant(dbus::MessageReader& args) const;
  std::expected<void, std::string> check_get(const dbus::Message& reply) const;
  std::expected<void, std::string> check_get_all(const dbus::Message& reply) const;
  std::expected<void, std::string> check_set(const dbus::Message& reply) const;
  std::expected<void, std::string> check_same_text(const dbus::Message& reply, bool (*plausible)(const std::string&),
                                                   const char* what);

  CallKind kind_;
  std::int32_t range_;
  std::vector<std::int32_t> set_levels_;
  std::optional<std::string> reference_;
};

// What a sound introspection document of the range object holds at least.
bool plausible_introspection(const std::string& document);
// A bus id: 32 lowercase hexadecimal digits.
bool plausible_bus_id(const std::string& id);

}  // namespace bench
