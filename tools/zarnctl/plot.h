// Motion samples and their plot: CSV and a self-contained SVG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarnctl {

struct Sample {
  double seconds;
  int32_t position;
  int32_t velocity;
};

bool WriteCsv(const std::string& path, const std::vector<Sample>& samples);
// Two panels, position and velocity over time.
bool WriteSvg(const std::string& path, const std::vector<Sample>& samples, const std::string& title);

}  // namespace zarnctl
