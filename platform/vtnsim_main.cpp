// vtnsim: changes the simulated controller's state from the shell.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "paths.h"
#include "simctl.h"

namespace {

const char kUsage[] =
    "usage: vtnsim COMMAND\n"
    "  init [--preset pata2|sata4|sata8|dual|demo]\n"
    "  show [--json]\n"
    "  fail ID\n"
    "  pull ID\n"
    "  plug CONTROLLER CHANNEL DEVICE SIZE_GB\n"
    "  progress ARRAY_ID PERCENT\n"
    "  finish ARRAY_ID\n"
    "  event KIND DEVICE_ID [FLAG|NAME]\n"
    "  set version HEX\n"
    "  set channel NAME\n"
    "  set rate SECTORS_PER_SECOND\n"
    "  fail-next CODE [COUNT]\n"
    "  reboot\n"
    "  log\n";

// Whole-text unsigned number (decimal, or hex with 0x) no larger than max.
bool Number(const std::string& text, uint64_t max, uint64_t* out, int base = 0)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(text.c_str(), &end, base);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > max)
        return false;
    *out = v;
    return true;
}

int Fail(const std::string& message)
{
    fprintf(stderr, "vtnsim: %s\n", message.c_str());
    return 1;
}

int Done(bool ok, const std::string& message)
{
    if (!ok)
        return Fail(message);
    fputs(message.c_str(), stdout);
    if (!message.empty() && message.back() != '\n')
        fputc('\n', stdout);
    return 0;
}

int BadNumber(const char* what, const std::string& text)
{
    return Fail(std::string("bad ") + what + " '" + text + "'");
}

}  // namespace

int main(int argc, char** argv)
{
    // A missing folder is fine: init makes it, the other commands say the state is missing.
    if (!VtnFixRoot("vtnsim", false))
        return 1;
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    const std::string& cmd = a[0];
    const size_t n = a.size();
    std::string msg;
    auto usage = [&]() {
        fprintf(stderr, "vtnsim: wrong arguments for '%s'\n%s", cmd.c_str(), kUsage);
        return 2;
    };
    uint64_t x = 0, y = 0, z = 0, w = 0;

    if (cmd == "init") {
        std::string preset = "sata4";
        if (n == 3 && a[1] == "--preset")
            preset = a[2];
        else if (n != 1)
            return usage();
        return Done(VtnSimInit(preset, &msg), msg);
    }
    if (cmd == "show") {
        if (n > 2 || (n == 2 && a[1] != "--json"))
            return usage();
        return Done(VtnSimShow(n == 2, &msg), msg);
    }
    if (cmd == "fail" || cmd == "pull") {
        if (n != 2)
            return usage();
        if (!Number(a[1], 0xFFFFFFFF, &x))
            return BadNumber("id", a[1]);
        const uint32_t id = static_cast<uint32_t>(x);
        return Done(cmd == "fail" ? VtnSimFail(id, &msg) : VtnSimPull(id, &msg), msg);
    }
    if (cmd == "plug") {
        if (n != 5)
            return usage();
        if (!Number(a[1], 255, &x))
            return BadNumber("controller", a[1]);
        if (!Number(a[2], 255, &y))
            return BadNumber("channel", a[2]);
        if (!Number(a[3], 255, &z))
            return BadNumber("device", a[3]);
        if (!Number(a[4], 1000000, &w) || w == 0)
            return BadNumber("size", a[4]);
        return Done(VtnSimPlug(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z), w, nullptr, &msg), msg);
    }
    if (cmd == "progress") {
        if (n != 3)
            return usage();
        if (!Number(a[1], 0xFFFFFFFF, &x))
            return BadNumber("array id", a[1]);
        char* end = nullptr;
        errno = 0;
        const double percent = strtod(a[2].c_str(), &end);
        if (a[2].empty() || errno != 0 || *end != '\0' || !(percent >= 0.0 && percent <= 100.0))
            return BadNumber("percent", a[2]);
        return Done(VtnSimProgress(static_cast<uint32_t>(x), percent, &msg), msg);
    }
    if (cmd == "finish") {
        if (n != 2)
            return usage();
        if (!Number(a[1], 0xFFFFFFFF, &x))
            return BadNumber("array id", a[1]);
        return Done(VtnSimFinish(static_cast<uint32_t>(x), &msg), msg);
    }
    if (cmd == "event") {
        if (n < 3 || n > 4)
            return usage();
        if (!Number(a[1], 255, &x))
            return BadNumber("kind", a[1]);
        if (!Number(a[2], 0xFFFFFFFF, &y))
            return BadNumber("device id", a[2]);
        uint8_t flag = 0;
        std::string name;
        if (n == 4) {
            if (Number(a[3], 255, &z))
                flag = static_cast<uint8_t>(z);
            else
                name = a[3];
        }
        return Done(VtnSimEvent(static_cast<uint8_t>(x), static_cast<uint32_t>(y), flag, name, &msg), msg);
    }
    if (cmd == "set") {
        if (n != 3)
            return usage();
        if (a[1] == "version") {
            if (!Number(a[2], 0xFFFFFFFF, &x, 16))
                return BadNumber("version", a[2]);
            return Done(VtnSimSetVersion(static_cast<uint32_t>(x), &msg), msg);
        }
        if (a[1] == "channel")
            return Done(VtnSimSetChannel(a[2], &msg), msg);
        if (a[1] == "rate") {
            if (!Number(a[2], 1ULL << 40, &x))
                return BadNumber("rate", a[2]);
            return Done(VtnSimSetRate(x, &msg), msg);
        }
        return usage();
    }
    if (cmd == "fail-next") {
        if (n < 2 || n > 3)
            return usage();
        if (!Number(a[1], 0xFFFF, &x) && !Number(a[1], 0xFFFF, &x, 16))
            return BadNumber("code", a[1]);
        y = 1;
        if (n == 3 && (!Number(a[2], 1000000, &y) || y == 0))
            return BadNumber("count", a[2]);
        return Done(VtnSimFailNext(static_cast<uint32_t>(x), static_cast<uint32_t>(y), &msg), msg);
    }
    if (cmd == "reboot") {
        if (n != 1)
            return usage();
        return Done(VtnSimReboot(&msg), msg);
    }
    if (cmd == "log") {
        if (n != 1)
            return usage();
        return Done(VtnSimLogText(&msg), msg);
    }
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        fputs(kUsage, stdout);
        return 0;
    }
    fprintf(stderr, "vtnsim: unknown command '%s'\n%s", cmd.c_str(), kUsage);
    return 2;
}
