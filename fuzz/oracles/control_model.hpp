#pragma once
// The simulated controller's control file, modelled line by line: what each key takes, spelled
// out as patterns of characters; the result is each key's value in the model's own terms, or
// the number of the first line that is refused.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

struct ControlModel {
  long long status = 0;
  std::vector<int> extra;
  std::string answer = "complete", before = "none", reply = "output";
  long long delay_ms = 0;
  std::optional<std::string> error_name;
  std::string error_message = "simulated failure";
  std::string text;
};

struct ControlOutcome {
  std::optional<ControlModel> control;
  int refused_line = 0;  // when there is no control
};

ControlOutcome read_control(std::string_view content);

}  // namespace oracle
