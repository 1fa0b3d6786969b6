#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zarnctl {

bool WriteCsv(const std::string& path, const std::vector<Sample>& samples) {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  fprintf(f, "time_s,position,velocity\n");
  for (const Sample& s : samples) fprintf(f, "%.4f,%d,%d\n", s.seconds, s.position, s.velocity);
  return fclose(f) == 0;
}

namespace {

// A "nice" step for about five grid lines over span.
double NiceStep(double span) {
  if (span <= 0) return 1;
  const double raw = span / 5;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * p) return m * p;
  return 10 * p;
}

void Panel(FILE* f, const std::vector<Sample>& s, bool velocity, double top, double height, double width,
           const char* label, const char* color) {
  const double left = 80, right = width - 20;
  double lo = 0, hi = 0, tmax = s.empty() ? 1 : std::max(s.back().seconds, 1e-3);
  bool first = true;
  for (const Sample& x : s) {
    const double v = velocity ? x.velocity : x.position;
    lo = first ? v : std::min(lo, v);
    hi = first ? v : std::max(hi, v);
    first = false;
  }
  if (hi - lo < 1) {
    hi += 1;
    lo -= 1;
  }
  const double step = NiceStep(hi - lo);
  lo = std::floor(lo / step) * step;
  hi = std::ceil(hi / step) * step;
  auto X = [&](double t) { return left + (right - left) * t / tmax; };
  auto Y = [&](double v) { return top + height - height * (v - lo) / (hi - lo); };
  fprintf(f, "<rect x='%.1f' y='%.1f' width='%.1f' height='%.1f' fill='#fafafa' stroke='#999'/>\n", left, top,
          right - left, height);
  for (double g = lo; g <= hi + step / 2; g += step) {
    fprintf(f, "<line x1='%.1f' y1='%.1f' x2='%.1f' y2='%.1f' stroke='#ddd'/>\n", left, Y(g), right, Y(g));
    fprintf(f, "<text x='%.1f' y='%.1f' font-size='11' text-anchor='end'>%.0f</text>\n", left - 5, Y(g) + 4, g);
  }
  const double tstep = NiceStep(tmax);
  for (double t = 0; t <= tmax + tstep / 2; t += tstep) {
    fprintf(f, "<line x1='%.1f' y1='%.1f' x2='%.1f' y2='%.1f' stroke='#eee'/>\n", X(t), top, X(t), top + height);
    fprintf(f, "<text x='%.1f' y='%.1f' font-size='11' text-anchor='middle'>%.2f s</text>\n", X(t), top + height + 14,
            t);
  }
  fprintf(f, "<text x='%.1f' y='%.1f' font-size='13' font-weight='bold'>%s</text>\n", left, top - 6, label);
  fprintf(f, "<polyline fill='none' stroke='%s' stroke-width='1.8' points='", color);
  for (const Sample& x : s) fprintf(f, "%.1f,%.1f ", X(x.seconds), Y(velocity ? x.velocity : x.position));
  fprintf(f, "'/>\n");
}

}  // namespace

bool WriteSvg(const std::string& path, const std::vector<Sample>& samples, const std::string& title) {
  FILE* f = fopen(path.c_str(), "w");
  if (!f) return false;
  const double width = 900, height = 560;
  fprintf(f, "<svg xmlns='http://www.w3.org/2000/svg' width='%.0f' height='%.0f' font-family='sans-serif'>\n", width,
          height);
  fprintf(f, "<rect width='100%%' height='100%%' fill='white'/>\n");
  fprintf(f, "<text x='%.0f' y='24' font-size='16' text-anchor='middle'>", width / 2);
  for (char c : title) {
    if (c == '<')
      fputs("&lt;", f);
    else if (c == '&')
      fputs("&amp;", f);
    else
      fputc(c, f);
  }
  fprintf(f, "</text>\n");
  Panel(f, samples, false, 60, 190, width, "position (counts)", "#1f77b4");
  Panel(f, samples, true, 320, 190, width, "velocity (counts/s)", "#d62728");
  fprintf(f, "</svg>\n");
  return fclose(f) == 0;
}

}  // namespace zarnctl
