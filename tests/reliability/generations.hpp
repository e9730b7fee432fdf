#pragma once
// The contents the power-loss writer puts into its file, one distinct text per generation, of
// varying length so that a partial write cannot pass for a whole one.
#include <cstddef>
#include <string>

namespace reliability {

inline std::string generation_contents(std::size_t generation) {
  std::string text = "[Bluetooth]\nRange = " + std::to_string(generation % 31) + "\n";
  const std::size_t filler_lines = (generation * 37) % 200;
  for (std::size_t i = 0; i < filler_lines; ++i) {
    text += "; generation " + std::to_string(generation) + " filler line " + std::to_string(i) + "\n";
  }
  return text + "; end of generation " + std::to_string(generation) + "\n";
}

}  // namespace reliability
