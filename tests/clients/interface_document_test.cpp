// The shipped interface document as app developers' tools read it: valid against the D-Bus DTD,
// and its documentation carried into what gdbus-codegen writes from it. (The examples' build
// compiles the C proxy of gdbus-codegen and the C++ proxy of sdbus-c++-xml2cpp made from it; the
// live Introspect answer, without the documentation, is held byte for byte by the integration
// tier.)
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace clients {
namespace {

std::string contents(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The documentation of the element the XPath names, as the document holds it.
std::string documentation(const std::string& element) {
  const auto value = harness::run_to_end(
      "/usr/bin/xmllint",
      {.arguments = {"--xpath", "string(" + element + "/annotation[@name='org.gtk.GDBus.DocString']/@value)",
                     BLE_INTERFACE_DOCUMENT}});
  EXPECT_EQ(value.status, harness::ExitStatus::exited(0)) << value.standard_error;
  return value.standard_output;
}

// The document is kept in the tree so that a cross build runs nothing it builds; it must be what
// the service's own definition gives ("cmake --build <dir> --target interface-document" writes it).
TEST(InterfaceDocument, IsWhatTheServicesDefinitionWrites) {
  const harness::ScratchDirectory scratch;
  const auto written =
      harness::run_to_end(BLE_INTERFACE_DOCUMENT_PROGRAM, {.arguments = {(scratch.path() / "document.xml").string()}});
  ASSERT_EQ(written.status, harness::ExitStatus::exited(0)) << written.standard_error;
  EXPECT_EQ(contents(scratch.path() / "document.xml"), contents(BLE_INTERFACE_DOCUMENT));
}

TEST(InterfaceDocument, IsValidAndItsDocumentationReachesWhatGdbusCodegenWrites) {
  const auto valid = harness::run_to_end(
      "/usr/bin/xmllint", {.arguments = {"--noout", "--nonet", "--dtdvalid", "/usr/share/xml/dbus-1/introspect.dtd",
                                         BLE_INTERFACE_DOCUMENT}});
  EXPECT_EQ(valid.status, harness::ExitStatus::exited(0)) << valid.standard_error;

  const harness::ScratchDirectory scratch;
  const auto generated = harness::run_to_end(
      BLE_GDBUS_CODEGEN, {.arguments = {"--output-directory", scratch.path().string(), "--generate-docbook", "doc",
                                        "--generate-rst", "doc", BLE_INTERFACE_DOCUMENT}});
  ASSERT_EQ(generated.status, harness::ExitStatus::exited(0)) << generated.standard_error;
  const std::string docbook = contents(scratch.path() / "doc-com.orbo.Configuration.Legacy.xml");
  const std::string rst = contents(scratch.path() / "doc-com.orbo.Configuration.Legacy.rst");
  for (const std::string element : {"//interface", "//property[@name='Range']"}) {
    SCOPED_TRACE(element);
    const std::string text = documentation(element);
    EXPECT_GT(text.size(), 100u) << text;  // a description, not a word
    EXPECT_NE(docbook.find(text), std::string::npos) << docbook;
    EXPECT_NE(rst.find(text), std::string::npos) << rst;
  }
}

}  // namespace
}  // namespace clients
