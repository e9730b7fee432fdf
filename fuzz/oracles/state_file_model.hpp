#pragma once
// The state file's lines, modelled character by character: a line ends at a line feed (the
// text's end closes a last line without one), words end at a blank, and a line is a command
// when it has exactly four words that the bridge model accepts. A controller's last line wins.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

struct StateFileModel {
  std::map<std::string, std::string> lines;  // controller → its command in the one form
  std::vector<int> refused;                  // line numbers
};

StateFileModel read_state_file(std::string_view text);

}  // namespace oracle
