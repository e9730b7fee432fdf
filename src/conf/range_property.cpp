#include "src/conf/range_property.hpp"

#include <memory>
#include <string>

#include "contract/range_interface.hpp"
#include "dbus/fatal.hpp"
#include "dbus/names.hpp"
#include "src/conf/range_service.hpp"
#include "tree/method_errors.hpp"

namespace src {
namespace {

RangeService& service_of(const tree::PropertyContext& context) {
  const auto* service = context.object().data<std::shared_ptr<RangeService>>();
  if (service == nullptr || !*service) dbus::fatal("Range handler called on an object without a RangeService");
  return **service;
}

tree::MethodError refusal_reply(const RangeRefusal& refusal) {
  switch (refusal.reason) {
    case RangeRefusal::Reason::out_of_range: return tree::invalid_argument(refusal.error.message());
    case RangeRefusal::Reason::radio_failed:
      return tree::MethodError{dbus::standard_error::failed(), refusal.error.message()};
  }
  dbus::fatal("unknown RangeRefusal reason");
}

}  // namespace

std::expected<void, tree::MethodError> get_range(dbus::MessageWriter& value, const tree::PropertyContext& context) {
  value.append_int32(service_of(context).range());
  return {};
}

std::expected<void, tree::MethodError> set_range(dbus::MessageReader& value, const tree::PropertyContext& context) {
  // The Properties layer has already refused every variant that does not hold an INT32.
  const auto requested = value.read_int32();
  if (!requested) return std::unexpected(tree::argument_mismatch(requested.error()));
  auto taken = service_of(context).set_range(*requested);
  if (!taken) return std::unexpected(refusal_reply(taken.error()));
  return {};
}

tree::PropertyDef range_property() {
  return tree::PropertyDef{
      .name = std::string(contract::range_property_name),
      .signature = dbus::Signature::from_constant("i"),
      .access = tree::PropertyAccess::readwrite,
      .emits_changed = tree::EmitsChangedMode::emits,
      .auto_emit = true,
      .getter = &get_range,
      .setter = &set_range,
      .annotations = {},
  };
}

tree::InterfaceDef legacy_configuration_interface() {
  tree::InterfaceDef legacy{.name = dbus::InterfaceName::from_constant(contract::range_interface),
                            .methods = {},
                            .signals = {},
                            .properties = {},
                            .annotations = {}};
  legacy.add_property(range_property());
  return legacy;
}

}  // namespace src
