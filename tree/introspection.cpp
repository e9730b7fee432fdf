// org.freedesktop.DBus.Introspectable: the XML document that describes one object.
#include "tree/introspection.hpp"

#include <string_view>
#include <utility>

#include "dbus/message_writer.hpp"
#include "tree/object_tree.hpp"

namespace tree {
namespace {

constexpr std::string_view emits_changed_annotation = "org.freedesktop.DBus.Property.EmitsChangedSignal";

// ` name="value"`. D-Bus names never need escaping; annotation values and property names are
// free text, and an odd one must not break the markup.
std::string attribute(std::string_view name, std::string_view value) {
  std::string text = " ";
  text.append(name).append("=\"");
  for (char c : value) {
    switch (c) {
      case '&': text += "&amp;"; break;
      case '<': text += "&lt;"; break;
      case '>': text += "&gt;"; break;
      case '"': text += "&quot;"; break;
      case '\'': text += "&apos;"; break;
      default: text += c;
    }
  }
  text += '"';
  return text;
}

std::string indent(int blanks) { return std::string(static_cast<std::size_t>(blanks), ' '); }

void append_arg(std::string& out, const ArgDef& arg, std::string_view direction) {
  out += indent(6) + "<arg";
  if (arg.name) out += attribute("name", *arg.name);
  out += attribute("type", arg.signature.view());
  if (!direction.empty()) out += attribute("direction", direction);
  out += "/>\n";
}

// Whether a document carries the documentation annotations.
enum class Docs { left_out, included };

// The documentation annotation and its variants (".Short").
bool is_documentation(std::string_view name) {
  return name.starts_with(documentation_annotation) &&
         (name.size() == documentation_annotation.size() || name[documentation_annotation.size()] == '.');
}

void append_annotations(std::string& out, const Annotations& annotations, int blanks, Docs docs) {
  for (const auto& [name, value] : annotations) {
    if (docs == Docs::left_out && is_documentation(name)) continue;
    out += indent(blanks) + "<annotation" + attribute("name", name) + attribute("value", value) + "/>\n";
  }
}

// A definition's element: self-closing when it has no content.
void append_element(std::string& out, int blanks, std::string_view word, std::string_view key, std::string_view extra,
                    std::string_view content) {
  out += indent(blanks);
  out.append("<").append(word).append(attribute("name", key)).append(extra);
  if (content.empty()) {
    out += "/>\n";
    return;
  }
  out.append(">\n").append(content).append(indent(blanks)).append("</").append(word).append(">\n");
}

void append_method(std::string& out, const std::string& key, const MethodDef& method, Docs docs) {
  std::string content;
  for (const ArgDef& arg : method.in_args) append_arg(content, arg, "in");
  for (const ArgDef& arg : method.out_args) append_arg(content, arg, "out");
  append_annotations(content, method.annotations, 6, docs);
  append_element(out, 4, "method", key, {}, content);
}

std::string_view access_word(PropertyAccess access) {
  switch (access) {
    case PropertyAccess::read: return "read";
    case PropertyAccess::readwrite: return "readwrite";
    case PropertyAccess::write: return "write";
  }
  return "read";
}

std::string_view mode_word(EmitsChangedMode mode) {
  switch (mode) {
    case EmitsChangedMode::emits: return "true";
    case EmitsChangedMode::invalidates: return "invalidates";
    case EmitsChangedMode::constant: return "const";
    case EmitsChangedMode::none: return "false";
  }
  return "true";
}

void append_property(std::string& out, const std::string& key, const PropertyDef& property, Docs docs) {
  Annotations annotations = property.annotations;
  if (property.emits_changed != EmitsChangedMode::emits) {
    annotations.insert_or_assign(std::string(emits_changed_annotation), std::string(mode_word(property.emits_changed)));
  }
  std::string content;
  append_annotations(content, annotations, 6, docs);
  const std::string extra =
      attribute("type", property.signature.view()) + attribute("access", access_word(property.access));
  append_element(out, 4, "property", key, extra, content);
}

void append_signal(std::string& out, const std::string& key, const SignalDef& signal, Docs docs) {
  std::string content;
  for (const ArgDef& arg : signal.args) append_arg(content, arg, {});
  append_annotations(content, signal.annotations, 6, docs);
  append_element(out, 4, "signal", key, {}, content);
}

void append_interface(std::string& out, const std::string& key, const InterfaceDef& interface, Docs docs) {
  std::string content;
  for (const auto& [name, method] : interface.methods) append_method(content, name, method, docs);
  for (const auto& [name, property] : interface.properties) append_property(content, name, property, docs);
  for (const auto& [name, signal] : interface.signals) append_signal(content, name, signal, docs);
  append_annotations(content, interface.annotations, 4, docs);
  append_element(out, 2, "interface", key, {}, content);
}

// How many leading characters of a child's path are dropped to give its node name.
std::size_t prefix_length(std::string_view parent) { return parent == "/" ? 1 : parent.size() + 1; }

bool is_below(std::string_view path, std::string_view ancestor) {
  return path.size() > ancestor.size() + 1 && path.starts_with(ancestor) && path[ancestor.size()] == '/';
}

HandlerResult answer_introspect(const MethodContext& call) {
  dbus::Message reply = dbus::Message::method_return(call.message);
  dbus::MessageWriter(reply).append_string(introspect(call.object, call.tree));
  std::vector<dbus::Message> out;
  out.push_back(std::move(reply));
  return out;
}

InterfaceDef build_introspectable_interface() {
  InterfaceDef definition{dbus::InterfaceName::from_constant(introspectable_interface_name), {}, {}, {}, {}};
  definition.add_method(MethodDef{dbus::MemberName::from_constant("Introspect"),
                                  answer_introspect,
                                  {},
                                  {ArgDef{"xml_data", dbus::Signature::from_constant("s")}},
                                  {}});
  return definition;
}

}  // namespace

std::shared_ptr<const InterfaceDef> introspectable_interface() {
  return shared_interface(introspectable_interface_name, build_introspectable_interface);
}

std::vector<const TreeObject*> children(const ObjectTree& tree, const TreeObject& object) {
  const std::string_view parent = object.path.view();
  const std::size_t length = prefix_length(parent);
  std::vector<const TreeObject*> kept;
  // In byte order "/" sorts before every character a path may hold, so whatever lies below a
  // listed child follows it directly and is that child's business, not ours.
  for (const auto& [path, candidate] : tree.objects()) {
    const bool descendant = path.size() > length && path.starts_with(parent) && path[length - 1] == '/';
    if (!descendant) continue;
    if (!kept.empty() && is_below(path, kept.back()->path.view())) continue;
    kept.push_back(&candidate);
  }
  return kept;
}

std::string introspect(const TreeObject& object, const ObjectTree& tree) {
  std::string out(dbus::introspection_doctype());
  out += "<node" + attribute("name", object.path.view()) + ">\n";
  for (const auto& [name, interface] : object.interfaces) append_interface(out, name, *interface, Docs::left_out);
  const std::size_t length = prefix_length(object.path.view());
  for (const TreeObject* child : children(tree, object)) {
    out += indent(2) + "<node" + attribute("name", child->path.view().substr(length)) + "/>\n";
  }
  out += "</node>";
  return out;
}

std::string interface_document(const InterfaceDef& interface) {
  std::string out(dbus::introspection_doctype());
  out += "<node>\n";
  append_interface(out, interface.name.str(), interface, Docs::included);
  out += "</node>\n";
  return out;
}

}  // namespace tree
