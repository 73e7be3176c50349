// Whole-process benchmark of the real manager, offscreen, with the soft token in a scratch
// store: hot-plug latency (presence file created -> device tree rebuilt with the token),
// start-up to the first frame and resident size beside a bare window, resident growth over
// insert and remove cycles, and processor time and wake-ups while idle.
// Prints tab-separated rows: measure, figure, goal, verdict.
#include "processprobe.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char kDemoDevice[] = "VK-VK2026000001";
const char kDemoSerial[] = "VK2026000001";

struct Options
{
    int startRuns = 11;
    int cycles = 1000;
    int cyclesMany = 200;
    int idleSeconds = 30;
    int idleRuns = 3;
};

int envInt(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::atoi(value) : fallback;
}

void row(const std::string& measure, const std::string& figure, const std::string& goal, bool met)
{
    std::cout << measure << '\t' << figure << '\t' << goal << '\t' << (met ? "met" : "MISSED") << std::endl;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The demo token (application, two containers with certificates) plugged in, plus
// extra - 1 empty tokens plugged in beside it.
void fillStore(const bench::Scratch& scratch, int tokens)
{
    scratch.skftool("demo");
    for (int i = 1; i < tokens; ++i) {
        const std::string serial = "BENCH" + std::to_string(i);
        scratch.skftool("create --serial " + serial);
        scratch.skftool("insert " + serial);
    }
}

// Start-up to the first frame and resident size once started, the manager and the bare
// window alternately so both see the same load.
void startUp(const Options& options)
{
    bench::Scratch scratch;
    fillStore(scratch, 1);
    std::vector<double> mgrMs, bareMs, mgrCpuMs, bareCpuMs, mgrRss, bareRss;
    for (int run = 0; run < options.startRuns; ++run) {
        {
            bench::Child child(scratch, OVRINKEY_EXE);
            // The token's rebuild may come before or after the first frame.
            bench::ProbeLine frame, line;
            bool listed = false;
            while (frame.tag.empty() || !listed) {
                if (!child.next(line, 30000)) {
                    throw std::runtime_error("no first frame and rebuild in time");
                }
                if (line.tag == "frame") {
                    frame = line;
                } else if (line.tag == "rebuild" && line.value == 1) {
                    listed = true;
                }
            }
            mgrMs.push_back((frame.monotonicNs - child.startedNs()) / 1e6);
            mgrCpuMs.push_back(frame.cpuNs / 1e6);
            child.drain(300);
            mgrRss.push_back(bench::residentKiB(child.pid()) / 1024.0);
        }
        {
            bench::Child child(scratch, BARE_WINDOW_EXE);
            const bench::ProbeLine frame = child.waitFor("frame", -1, 30000);
            bareMs.push_back((frame.monotonicNs - child.startedNs()) / 1e6);
            bareCpuMs.push_back(frame.cpuNs / 1e6);
            child.drain(300);
            bareRss.push_back(bench::residentKiB(child.pid()) / 1024.0);
        }
    }
    const double mgr = bench::percentile(mgrMs, 0.5), bare = bench::percentile(bareMs, 0.5);
    const double mgrCpu = bench::percentile(mgrCpuMs, 0.5), bareCpu = bench::percentile(bareCpuMs, 0.5);
    row("start-up to first frame, wall (ms): ovrinkey / bare",
        fixed(mgr, 1) + " / " + fixed(bare, 1) + " = " + fixed(mgr / bare, 2) + "x", "<= 2x", mgr / bare <= 2.0);
    row("start-up to first frame, CPU (ms): ovrinkey / bare",
        fixed(mgrCpu, 1) + " / " + fixed(bareCpu, 1) + " = " + fixed(mgrCpu / bareCpu, 2) + "x", "<= 2x",
        mgrCpu / bareCpu <= 2.0);
    const double rss = bench::percentile(mgrRss, 0.5), bareRssMiB = bench::percentile(bareRss, 0.5);
    row("resident after start (MiB): ovrinkey / bare",
        fixed(rss, 1) + " / " + fixed(bareRssMiB, 1) + " = " + fixed(rss / bareRssMiB, 2) + "x", "<= 1.5x",
        rss / bareRssMiB <= 1.5);
}

// Instructions from process start to the first frame, counted by callgrind: the figure a
// loaded machine cannot blur. callgrind writes a profile part at each probe mark; the parts
// up to the one written at "frame" are summed.
long long instructionsToFirstFrame(const bench::Scratch& scratch, const std::string& program)
{
    const std::string out = scratch.path() + "/callgrind.out";
    std::vector<bench::ProbeLine> marks;
    {
        bench::Child child(scratch, program,
                           {"valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                            "--dump-before=benchprobe::mark*", "--dump-instr=no", "--compress-strings=no"});
        bench::ProbeLine line;
        do {
            if (!child.next(line, 120000)) {
                throw std::runtime_error("no first frame under callgrind");
            }
            marks.push_back(line);
        } while (line.tag != "frame");
    }
    long long total = 0;
    for (std::size_t part = 1; part <= marks.size(); ++part) {
        std::ifstream profile(out + "." + std::to_string(part));
        std::string word;
        while (profile >> word) {
            if (word == "totals:") {
                long long count = 0;
                profile >> count;
                total += count;
                break;
            }
        }
    }
    return total;
}

void startUpInstructions()
{
    if (std::system("valgrind --version >/dev/null 2>&1") != 0) {
        row("start-up to first frame, instructions (callgrind)", "valgrind not installed", "<= 2x", true);
        return;
    }
    bench::Scratch scratch;
    fillStore(scratch, 1);
    const long long mgr = instructionsToFirstFrame(scratch, OVRINKEY_EXE);
    const long long bare = instructionsToFirstFrame(scratch, BARE_WINDOW_EXE);
    const double ratio = static_cast<double>(mgr) / static_cast<double>(bare);
    row("start-up to first frame, instructions (M): ovrinkey / bare",
        fixed(mgr / 1e6, 1) + " / " + fixed(bare / 1e6, 1) + " = " + fixed(ratio, 2) + "x", "<= 2x", ratio <= 2.0);
}

// Hot-plug latency with `tokens` present: the demo token is pulled and plugged in again
// `cycles` times; each insertion is timed from the presence file's creation (a rename
// into present/, as skftool does) to the probe line of the rebuild that lists it.
void hotPlug(int tokens, int cycles, double goalMs, bool withMemory)
{
    bench::Scratch scratch;
    fillStore(scratch, tokens);
    const std::string present = scratch.store() + "/present/" + kDemoDevice;
    const std::string staged = scratch.store() + "/" + kDemoDevice + ".staged";

    bench::Child child(scratch, OVRINKEY_EXE);
    child.waitFor("rebuild", tokens, 60000);
    child.drain(500);
    const long rssBefore = bench::residentKiB(child.pid());

    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(cycles));
    for (int cycle = 0; cycle < cycles; ++cycle) {
        if (::unlink(present.c_str()) != 0) {
            throw std::runtime_error("cannot remove the presence file");
        }
        child.waitFor("rebuild", tokens - 1, 10000);
        {
            std::ofstream file(staged);
            file << kDemoSerial;
        }
        const long long createdNs = bench::monotonicNs();
        if (std::rename(staged.c_str(), present.c_str()) != 0) {
            throw std::runtime_error("cannot create the presence file");
        }
        const bench::ProbeLine line = child.waitFor("rebuild", tokens, 10000);
        latencies.push_back((line.monotonicNs - createdNs) / 1e6);
    }
    child.drain(300);
    const long rssAfter = bench::residentKiB(child.pid());

    const double p50 = bench::percentile(latencies, 0.5), p99 = bench::percentile(latencies, 0.99);
    row("hot-plug latency, " + std::to_string(tokens) + " present, " + std::to_string(cycles)
            + " insertions (ms): p50 / p99",
        fixed(p50, 2) + " / " + fixed(p99, 2), "p50 < " + fixed(goalMs, 0) + " ms", p50 < goalMs);
    if (withMemory) {
        const double growthMiB = (rssAfter - rssBefore) / 1024.0;
        row("resident growth over " + std::to_string(cycles) + " insert+remove cycles (MiB)",
            fixed(rssBefore / 1024.0, 1) + " -> " + fixed(rssAfter / 1024.0, 1) + " = " + fixed(growthMiB, 2),
            "< 1 MiB", growthMiB < 1.0);
    }
}

// Idle cost with two tokens present: processor time of every thread and their context
// switches over idleSeconds, beside a bare window idling over the same seconds.
void idle(const Options& options)
{
    bench::Scratch scratch;
    fillStore(scratch, 2);
    std::vector<double> cpuMs, bareCpuMs, switches, bareSwitches;
    std::map<std::string, long long> byThread;
    for (int run = 0; run < options.idleRuns; ++run) {
        bench::Child child(scratch, OVRINKEY_EXE);
        child.waitFor("rebuild", 2, 60000);
        child.drain(1000);
        bench::Child bare(scratch, BARE_WINDOW_EXE);
        bare.waitFor("frame", -1, 30000);
        bare.drain(1000);

        const auto cpuBefore = bench::threadCpuNs(child.pid());
        const auto bareBefore = bench::threadCpuNs(bare.pid());
        std::map<std::string, long long> before;
        for (const auto& thread : bench::threadSwitches(child.pid())) {
            before[thread.id] = thread.switches;
        }
        long long bareSwitchBefore = 0;
        for (const auto& thread : bench::threadSwitches(bare.pid())) {
            bareSwitchBefore += thread.switches;
        }
        std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
        cpuMs.push_back(bench::cpuNsBetween(cpuBefore, bench::threadCpuNs(child.pid())) / 1e6);
        bareCpuMs.push_back(bench::cpuNsBetween(bareBefore, bench::threadCpuNs(bare.pid())) / 1e6);
        long long total = 0;
        for (const auto& thread : bench::threadSwitches(child.pid())) {
            // A thread that started during the idle span counts from zero.
            const long long delta = thread.switches - before[thread.id];
            byThread[thread.name] += delta;
            total += delta;
        }
        switches.push_back(static_cast<double>(total));
        long long bareTotal = -bareSwitchBefore;
        for (const auto& thread : bench::threadSwitches(bare.pid())) {
            bareTotal += thread.switches;
        }
        bareSwitches.push_back(static_cast<double>(bareTotal));
    }
    const double cpu = bench::percentile(cpuMs, 0.5);
    const std::string span = std::to_string(options.idleSeconds) + " s";
    row("idle CPU, 2 tokens, " + span + " (ms): ovrinkey / bare",
        fixed(cpu, 2) + " / " + fixed(bench::percentile(bareCpuMs, 0.5), 2), "< 20 ms", cpu < 20.0);
    std::string perThread;
    for (const auto& [name, count] : byThread) {
        perThread += (perThread.empty() ? "" : ", ") + name + " " + std::to_string(count / options.idleRuns);
    }
    const double wakeups = bench::percentile(switches, 0.5);
    row("idle wake-ups (context switches), " + span + ": ovrinkey / bare",
        fixed(wakeups, 0) + " / " + fixed(bench::percentile(bareSwitches, 0.5), 0) + " (" + perThread + ")",
        "no periodic", wakeups <= 2.0);
}

} // namespace

int main()
{
    Options options;
    options.startRuns = envInt("BENCH_START_RUNS", options.startRuns);
    options.cycles = envInt("BENCH_CYCLES", options.cycles);
    options.cyclesMany = envInt("BENCH_CYCLES_MANY", options.cyclesMany);
    options.idleSeconds = envInt("BENCH_IDLE_SECONDS", options.idleSeconds);
    options.idleRuns = envInt("BENCH_IDLE_RUNS", options.idleRuns);
    // BENCH_ONLY=hotplug,startup,idle picks parts; all by default.
    const std::string only = std::getenv("BENCH_ONLY") != nullptr ? std::getenv("BENCH_ONLY") : "";
    const auto wanted = [&only](const char* part) { return only.empty() || only.find(part) != std::string::npos; };
    try {
        if (wanted("hotplug")) {
            hotPlug(1, options.cycles, 10.0, true);
            hotPlug(16, options.cyclesMany, 50.0, false);
        }
        if (wanted("startup")) {
            startUp(options);
            startUpInstructions();
        }
        if (wanted("idle")) {
            idle(options);
        }
    } catch (const std::exception& error) {
        std::cerr << "bench_process: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
