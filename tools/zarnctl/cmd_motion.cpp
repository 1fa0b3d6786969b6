// Motion: move, home, stop, and record (samples and a plot of a move or homing).
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "access.h"
#include "axis.h"
#include "commands.h"
#include "plot.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

struct MoveArgs {
  std::string mode;
  int32_t value = 0;
  uint32_t vel = 0, acc = 0, dec = 0;
  CLI::Option *velOption = nullptr, *accOption = nullptr, *decOption = nullptr;
  bool wait = false;

  void Define(CLI::App& c) {
    c.add_option("mode", mode, "abs: to a position; rel: by a distance")
        ->required()
        ->check(CLI::IsMember({"abs", "rel"}));
    c.add_option("position", value, "target position or distance, in the drive's units")->required();
    velOption = c.add_option("--vel", vel, "profile velocity (default: what the drive holds)");
    accOption = c.add_option("--acc", acc, "profile acceleration");
    decOption = c.add_option("--dec", dec, "profile deceleration");
    for (CLI::Option* o : {velOption, accOption, decOption}) o->check(CLI::Range(1u, 0xFFFFFFFFu));
  }

  Axis::Move Start(const Link& link, const Axis& axis) const {
    if (velOption->count() == 0 && accOption->count() == 0 && decOption->count() == 0)
      return axis.StartMove(mode == "rel", value, nullptr);
    // Values not given keep what the drive holds.
    Profile p;
    p.velocity = velOption->count() ? vel : uint32_t(ReadNumber(link, obj::ProfileVelocity));
    p.acceleration = accOption->count() ? acc : uint32_t(ReadNumber(link, obj::ProfileAcceleration));
    p.deceleration = decOption->count() ? dec : uint32_t(ReadNumber(link, obj::ProfileDeceleration));
    return axis.StartMove(mode == "rel", value, &p);
  }
};

struct HomeArgs {
  int method = 0;
  HomingProfile profile{50000, 10000, 1000000, 0};
  bool wait = false;

  void Define(CLI::App& c) {
    c.add_option("--method", method, "homing method (35: the current position becomes the offset)")
        ->required()
        ->check(CLI::Range(-128, 127));
    c.add_option("--switch-speed", profile.switchSpeed, "speed while searching the switch (default 50000)");
    c.add_option("--zero-speed", profile.zeroSpeed, "speed while searching zero (default 10000)");
    c.add_option("--acc", profile.acceleration, "homing acceleration (default 1000000)");
    c.add_option("--offset", profile.offset, "home offset: the position at home (default 0)");
  }
};

std::string PositionNote(int32_t position) { return "position " + std::to_string(position); }

Runner DefineMove(CLI::App& c) {
  auto a = std::make_shared<MoveArgs>();
  a->Define(c);
  c.add_flag("--wait", a->wait, "wait until the drive is in position (see --timeout)");
  return [a](Session& s) {
    const Link& link = s.Drive();
    const Axis axis(link, s.Timeout());
    const Axis::Move m = a->Start(link, axis);
    Report r;
    r.Number("start", m.start);
    r.Number("target", m.target);
    if (!a->wait) {
      axis.HaltIfInterrupted("move");
      r.Flag("started", true);
      s.Out().Print("move", r);
      return 0;
    }
    Progress bar(s.Out(), "moving");
    const double span = std::fabs(double(m.target) - m.start);
    const bool done = axis.WaitMoveDone([&](int32_t position) {
      bar.Update(span > 0 ? std::fabs(double(position) - m.start) / span : 1.0, PositionNote(position));
    });
    bar.Done();
    const int32_t position = axis.Position();
    if (!done) {
      Failure f = IncompleteFailure("move",
                                    "the move did not end in position within " + std::to_string(s.Timeout().count()) +
                                        " ms (" + PositionNote(position) + ")",
                                    "a longer --timeout, or a faster profile (--vel, --acc, --dec)");
      f.details["position"] = position;
      throw f;
    }
    r.Number("position", position);
    r.Flag("in_position", true);
    s.Out().Print("move", r);
    return 0;
  };
}

Runner DefineHome(CLI::App& c) {
  auto a = std::make_shared<HomeArgs>();
  a->Define(c);
  c.add_flag("--wait", a->wait, "wait until homing is done (see --timeout)");
  return [a](Session& s) {
    const Axis axis(s.Drive(), s.Timeout());
    const int32_t start = axis.StartHoming(int8_t(a->method), a->profile);
    Report r;
    r.Number("method", a->method);
    if (!a->wait) {
      axis.HaltIfInterrupted("home");
      r.Flag("started", true);
      s.Out().Print("home", r);
      return 0;
    }
    Progress bar(s.Out(), "homing");
    const auto t0 = std::chrono::steady_clock::now();
    const bool homed = axis.WaitHomed(a->profile, start, [&](int32_t position) {
      const double spent = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      bar.Update(std::min(0.95, spent / double(s.Timeout().count())), PositionNote(position));
    });
    bar.Done();
    const int32_t position = axis.Position();
    if (!homed) {
      Failure f = IncompleteFailure(
          "home",
          "homing did not end within " + std::to_string(s.Timeout().count()) + " ms (" + PositionNote(position) + ")",
          "a longer --timeout; check the method and that the home switch is reached");
      f.details["position"] = position;
      throw f;
    }
    r.Flag("homed", true);
    r.Number("position", position);
    s.Out().Print("home", r);
    return 0;
  };
}

Runner DefineStop(CLI::App&) {
  return [](Session& s) {
    const Axis axis(s.Drive(), s.Timeout());
    Report r;
    r.Number("position", axis.Stop());
    r.Number("velocity", axis.Velocity());
    s.Out().Print("stop", r);
    return 0;
  };
}

// What `record --during` runs: a move or a homing, with the options of those commands.
struct During {
  std::unique_ptr<CLI::App> parser;  // owns the options that the arguments look at
  MoveArgs move;
  HomeArgs home;
  bool homing = false;
};

void ParseDuring(const std::string& text, During* d) {
  d->parser = std::make_unique<CLI::App>("", "--during");
  CLI::App& app = *d->parser;
  app.require_subcommand(1);
  d->move.Define(*app.add_subcommand("move", ""));
  d->home.Define(*app.add_subcommand("home", ""));
  try {
    app.parse(text, false);
  } catch (const CLI::ParseError& e) {
    throw UsageFailure("--during '" + text + "': " + e.what(),
                       "give a move or home command: --during 'move abs 10000 --vel 50000'");
  }
  d->homing = app.got_subcommand("home");
}

Runner DefineRecord(CLI::App& c) {
  struct Args {
    std::string file, during;
    int interval = 10;
  };
  auto a = std::make_shared<Args>();
  c.add_option("file", a->file, "where to write: FILE.csv and FILE.svg")->required();
  c.add_option("--during", a->during, "the motion to record: 'move abs 10000' or 'home --method 1'")->required();
  c.add_option("--interval", a->interval, "time between samples (ms, default 10)")->check(CLI::Range(1, 10000));
  return [a](Session& s) {
    auto d = std::make_shared<During>();
    ParseDuring(a->during, d.get());
    std::string base = a->file;
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".csv") == 0) base.resize(base.size() - 4);
    const std::string csv = base + ".csv", svg = base + ".svg";

    const Link& link = s.Drive();
    Axis axis(link, s.Timeout());
    axis.SetPollInterval(std::chrono::milliseconds(a->interval));
    std::vector<Sample> samples;
    const auto t0 = std::chrono::steady_clock::now();
    auto sample = [&](int32_t position) {
      const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      samples.push_back(Sample{t, position, axis.Velocity()});
    };
    auto save = [&] {
      if (!WriteCsv(csv, samples) || !WriteSvg(svg, samples, "zarnctl record: " + a->during))
        throw SystemFailure("record", "cannot write " + csv + " or " + svg, "check the folder and its permissions");
    };
    Progress bar(s.Out(), "recording");
    bool ended = false;
    try {
      for (int i = 0; i < 5; ++i) {  // the state before the motion
        sample(axis.Position());
        std::this_thread::sleep_for(std::chrono::milliseconds(a->interval));
      }
      auto watch = [&](int32_t position) {
        sample(position);
        bar.Update(0.5, std::to_string(samples.size()) + " samples");
      };
      if (d->homing) {
        const int32_t start = axis.StartHoming(int8_t(d->home.method), d->home.profile);
        ended = axis.WaitHomed(d->home.profile, start, watch);
      } else {
        d->move.Start(link, axis);
        ended = axis.WaitMoveDone(watch);
      }
      for (int i = 0; i < 5; ++i) {  // and at rest after it
        std::this_thread::sleep_for(std::chrono::milliseconds(a->interval));
        sample(axis.Position());
      }
    } catch (Failure& f) {
      // What was recorded up to a failure or Ctrl+C is kept.
      bar.Done();
      if (samples.size() > 5) {
        save();
        f.details["csv"] = csv;
        f.details["samples"] = samples.size();
      }
      throw;
    }
    bar.Done();
    save();
    if (!ended) {
      Failure f = IncompleteFailure("record",
                                    "the motion did not end within " + std::to_string(s.Timeout().count()) +
                                        " ms; the samples so far are in " + csv,
                                    "a longer --timeout");
      f.details["csv"] = csv;
      throw f;
    }
    Report r;
    r.Text("csv", csv);
    r.Text("svg", svg);
    r.Number("samples", int64_t(samples.size()));
    r.Number("position", samples.back().position);
    s.Out().Print("record", r);
    return 0;
  };
}

}  // namespace

void AddMotionCommands(Registry& r) {
  r.Add({"move", "move to a position or by a distance: move abs 10000 --vel 50000 --wait", true, DefineMove});
  r.Add(
      {"home", "home the axis (every time, also when it was homed before): home --method 1 --wait", true, DefineHome});
  r.Add({"stop", "stop the axis with the drive's stop deceleration and wait for standstill", true, DefineStop});
  r.Add({"record", "sample position and velocity during a move or homing into CSV and SVG", true, DefineRecord});
}

}  // namespace zarnctl
