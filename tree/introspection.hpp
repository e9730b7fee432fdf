#pragma once
// org.freedesktop.DBus.Introspectable and the XML document it returns.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tree/definitions.hpp"

namespace tree {

class ObjectTree;

inline constexpr std::string_view introspectable_interface_name = "org.freedesktop.DBus.Introspectable";

// The annotation that documents an element for code generators (GDBus's name, which others
// read too). The interface document carries it; the live document leaves it out, since every
// Introspect answer would carry the prose to clients that ask for the types.
inline constexpr std::string_view documentation_annotation = "org.gtk.GDBus.DocString";

// Built once and shared by every object that can be introspected.
std::shared_ptr<const InterfaceDef> introspectable_interface();

// The object's direct registered descendants, in path order.
std::vector<const TreeObject*> children(const ObjectTree& tree, const TreeObject& object);
// The document, generated anew on each call, without documentation; no line feed after "</node>".
std::string introspect(const TreeObject& object, const ObjectTree& tree);
// One interface alone, the form code generators read from the system's interface directory:
// the DOCTYPE, a <node> without a name around the interface's element, a line feed at the end.
// Documentation annotations included.
std::string interface_document(const InterfaceDef& interface);

}  // namespace tree
