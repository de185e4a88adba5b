// Command-line parsing and the --help text of velq3-sim.
#include "sim/Options.h"

#include <string_view>

#include "sim/Control.h"
#include "sim/Faults.h"
#include "sim/Parse.h"
#include "sim/Protocol.h"

namespace velq3::sim {

std::string usage() {
  std::string u =
      "Usage: velq3-sim [OPTION]...\n"
      "Simulates the accessory controller (filter wheel, focusers, thermometers, voltmeter, outputs)\n"
      "at the far end of a serial line. Prints the path of its terminal as the first line of standard\n"
      "output, and a new line with the new path whenever the line comes back after a vanish fault.\n"
      "\n"
      "Line:\n"
      "  --link PATH            also make PATH a symbolic link to the pseudo-terminal\n"
      "  --tty PATH             serve an existing terminal (serial port, socat end) instead\n"
      "  --realtime             pace every outgoing byte at 9600 baud (1.0417 ms) and move at the\n"
      "                         speeds in memory; default is fast mode without pacing\n"
      "Device:\n"
      "  --eeprom FILE          keep the 202-byte memory in FILE (created with defaults when missing;\n"
      "                         without it the memory lives only as long as the process)\n"
      "  --memory-size N        memory size reported and served, usually 144, 163, 174 or 202 (202);\n"
      "                         reads past it answer only the bytes up to the end, writes past it are\n"
      "                         refused with '?'\n"
      "  --mode N               set memory byte 1: 1..10 wheel, 11..20 virtual wheel, 0 second\n"
      "                         focuser, -1 rotator, -2 cover (saved in the memory)\n"
      "  --sensors N            thermometers present, 0..4 (2); the others read -32768\n"
      "  --table-len N          microstep table length, 33 or 64 (33)\n"
      "  --no-all               older firmware: no answer to \"FWAll\"\n"
      "  --no-eesize            older firmware: no answer to \"FWeesize\"\n"
      "  --eesize V             answer V to \"FWeesize\" whatever the memory size\n"
      "  --all-len L            \"FWAll\" announces L bytes: 16, 19 or 20 (20), or any 0..255\n"
      "Timing (fast mode):\n"
      "  --move-ms N            time per wheel slot in ms (fast mode 20; realtime: max steps / speed)\n"
      "  --focus-speedup K      focusers move K times faster than the memory speed (fast 50, realtime 1)\n"
      "  --slow-ms N            wait N ms before acting on and answering each command\n"
      "Faults:\n"
      "  --fault KIND           none; silent (commands consumed without effect or answer); garbage\n"
      "                         (random bytes instead of replies and move reports); short (last\n"
      "                         byte of each reply dropped, moves without their final report);\n"
      "                         foreign ('F' + 12 characters injected during wheel moves); fail\n"
      "                         (wheel moves and homing report '/'); vanish (the line goes away\n"
      "                         half-way through the next reply or move; once)\n"
      "  --fault-cmd WORD       limit the fault to one command word, e.g. FWGOTO\n"
      "  --replug-ms N          after a vanish, open a new pseudo-terminal after N ms (500) and print\n"
      "                         its path; --link follows it. With --tty the terminal stays and the\n"
      "                         device goes silent instead (fault silent)\n"
      "  --vanish-exit          after a vanish, exit (status 0) instead\n"
      "Control and diagnostics:\n"
      "  --control PATH         listen on a Unix stream socket at PATH for control lines (below)\n"
      "  --control-port FILE    listen for control lines on a TCP port of 127.0.0.1 chosen by the\n"
      "                         system, and write its number into FILE (for clients without Unix\n"
      "                         sockets, such as programs under Wine)\n"
      "  --exit-with-parent     end (as on SIGTERM) when the process that started it ends, so that\n"
      "                         a test that dies does not leave the simulator behind\n"
      "  --exit-with-control    end when the first control client disconnects (for a starter that\n"
      "                         cannot be the simulator's parent, such as a program under Wine)\n"
      "  --seed N               seed of the garbage generator\n"
      "  --verbose              log every received command word to standard error\n"
      "  --help                 show this text\n"
      "Later options override earlier ones. SIGTERM or SIGINT end the simulator and remove the\n"
      "--link and --control paths.\n"
      "\n"
      "Control language: one line per command, answered by one line, \"ok\" or \"error: <reason>\";\n"
      "a line with an error changes nothing.\n";
  u += controlHelp();
  return u;
}

std::optional<Options> parseOptions(int argc, const char* const* argv, std::string* error) {
  Options o;
  std::string fault;
  std::string faultCmd;
  auto fail = [&](const std::string& why) -> std::optional<Options> {
    if (error) *error = why;
    return std::nullopt;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    auto withValue = [&](auto&& use) -> std::optional<std::string> {
      const auto v = value();
      if (!v) return std::string(a) + " needs a value";
      return use(*v);
    };
    auto intoControl = [&](std::string prefix, long lo, long hi) {
      return withValue([&](std::string_view v) -> std::optional<std::string> {
        if (!parseNumber(v, lo, hi)) return std::string(a) + " must be a number " + std::to_string(lo) + ".." + std::to_string(hi);
        o.controlLines.push_back(prefix + " " + std::string(v));
        return std::nullopt;
      });
    };
    auto intoString = [&](std::string& target) {
      return withValue([&](std::string_view v) -> std::optional<std::string> {
        target = v;
        return std::nullopt;
      });
    };

    std::optional<std::string> problem;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--tty") {
      problem = intoString(o.tty);
    } else if (a == "--link") {
      problem = intoString(o.link);
    } else if (a == "--eeprom") {
      problem = intoString(o.eeprom);
    } else if (a == "--control") {
      problem = intoString(o.control);
    } else if (a == "--control-port") {
      problem = intoString(o.controlPortFile);
    } else if (a == "--fault") {
      problem = intoString(fault);
    } else if (a == "--fault-cmd") {
      problem = intoString(faultCmd);
    } else if (a == "--realtime") {
      o.realtime = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else if (a == "--vanish-exit") {
      o.vanishExit = true;
    } else if (a == "--exit-with-parent") {
      o.exitWithParent = true;
    } else if (a == "--exit-with-control") {
      o.exitWithControl = true;
    } else if (a == "--no-all") {
      o.controlLines.push_back("set all-len off");
    } else if (a == "--no-eesize") {
      o.controlLines.push_back("set eesize off");
    } else if (a == "--memory-size") {
      problem = intoControl("set memory-size", 0, 202);
    } else if (a == "--mode") {
      problem = intoControl("set mode", -128, 255);
    } else if (a == "--sensors") {
      problem = intoControl("set sensors", 0, 4);
    } else if (a == "--eesize") {
      problem = intoControl("set eesize", -32768, 32767);
    } else if (a == "--all-len") {
      problem = intoControl("set all-len", 0, 255);
    } else if (a == "--move-ms") {
      problem = intoControl("set move-ms", 0, 600000);
    } else if (a == "--focus-speedup") {
      problem = intoControl("set focus-speedup", 1, 100000);
    } else if (a == "--slow-ms") {
      problem = intoControl("slow", 0, 600000);
    } else if (a == "--replug-ms" || a == "--table-len" || a == "--seed") {
      problem = withValue([&](std::string_view v) -> std::optional<std::string> {
        const auto n = parseNumber(v, 0, a == "--seed" ? 4294967295L : 600000);
        if (!n) return std::string(a) + " needs a number";
        if (a == "--replug-ms") o.replugMs = static_cast<int>(*n);
        if (a == "--seed") o.seed = static_cast<uint32_t>(*n);
        if (a == "--table-len") {
          if (*n != 33 && *n != 64) return std::string("--table-len must be 33 or 64");
          o.microstepTableLen = static_cast<size_t>(*n);
        }
        return std::nullopt;
      });
    } else {
      problem = "unknown option " + std::string(a);
    }
    if (problem) return fail(*problem);
  }

  if (!faultCmd.empty() && !cmdFromWord(faultCmd)) return fail("--fault-cmd: unknown command word " + faultCmd);
  if (!fault.empty()) {
    if (!faultFromName(fault)) return fail("--fault: unknown fault " + fault);
    o.controlLines.push_back("fault " + fault + (faultCmd.empty() ? "" : " " + faultCmd));
  } else if (!faultCmd.empty()) {
    return fail("--fault-cmd needs --fault");
  }
  return o;
}

}  // namespace velq3::sim
