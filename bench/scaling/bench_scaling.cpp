// How the window's work grows with the token: one device-tree rebuild (slotEventChange with
// no pending event) with 1, 4, 16 and 64 tokens present, each with an application, and one
// container-view fill (chooseApp) with 1, 16 and 32 containers, each holding an SM2
// signature and encryption pair with a certificate for each. 32 is the most containers
// the soft token (like most real tokens) keeps in one application. The soft token's store is a
// scratch folder made before the first benchmark; tokens are plugged in by presence files.
#include "cdevmgr.h"
#include "mainwindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kApplication[] = "BENCH_APP";
const char kContainerDevice[] = "VK-CTN";

std::string g_store;

void skftool(const std::string& arguments)
{
    const std::string command
        = "SOFTSKF_DIR='" + g_store + "' '" SKFTOOL_EXE "' --lib '" SOFTSKF_LIB "' " + arguments + " >/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("skftool failed: " + arguments);
    }
}

std::string tokenSerial(int index)
{
    return "T" + std::to_string(index);
}

// A window whose monitor is stopped, so no queued event changes what is measured.
class BenchWindow : public MainWindow
{
public:
    BenchWindow()
    {
        stopMonitor();
        cDevMgr::getInst()->Initialize();
        cDevMgr::getInst()->SetEvent(0);
    }
    void showTrayNotice(const QString&, const QString&, int) override { }
};

BenchWindow& window()
{
    static BenchWindow* instance = new BenchWindow();
    return *instance;
}

// Tokens T0..T63, each with the application; none plugged in.
void makeTokens()
{
    for (int i = 0; i < 64; ++i) {
        skftool("create --serial " + tokenSerial(i));
        skftool("insert " + tokenSerial(i));
        skftool("app-create VK-" + tokenSerial(i) + " " + kApplication);
        skftool("remove " + tokenSerial(i));
    }
    skftool("create --serial CTN --capacity 4194304");
}

void plugIn(int present)
{
    for (int i = 0; i < 64; ++i) {
        const std::string file = g_store + "/present/VK-" + tokenSerial(i);
        if (i < present) {
            std::ofstream(file) << tokenSerial(i);
        } else {
            ::unlink(file.c_str());
        }
    }
}

// Grows the container token to `count` containers (they are only ever added).
void fillContainers(int count)
{
    static int made = -1;
    const std::string device = kContainerDevice;
    if (made < 0) {
        skftool("insert CTN");
        skftool("app-create " + device + " " + kApplication);
        made = 0;
    }
    for (; made < count; ++made) {
        const std::string where = device + " " + kApplication + " C" + std::to_string(made);
        skftool("container-create --pin 12345678 " + where);
        skftool("keygen --sm2 --pin 12345678 " + where);
        skftool("import-enc-key --pin 12345678 " + where);
        skftool("issue --sign --cn Signer" + std::to_string(made) + " --not-after 2099-12-31 --pin 12345678 " + where);
        skftool("issue --enc --cn Crypt" + std::to_string(made) + " --not-after 2099-12-31 --pin 12345678 " + where);
    }
}

void BM_DeviceTreeRebuild(benchmark::State& state)
{
    const int tokens = static_cast<int>(state.range(0));
    ::unlink((g_store + "/present/" + kContainerDevice).c_str());
    plugIn(tokens);
    BenchWindow& w = window();
    for (auto _ : state) {
        w.slotEventChange();
    }
}

void BM_ContainerViewFill(benchmark::State& state)
{
    const int containers = static_cast<int>(state.range(0));
    plugIn(0);
    fillContainers(containers);
    BenchWindow& w = window();
    for (auto _ : state) {
        w.chooseApp(QString::fromLatin1(kContainerDevice));
    }
}

BENCHMARK(BM_DeviceTreeRebuild)->Arg(1)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContainerViewFill)->Arg(1)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/ovrinkey-scaling-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    g_store = std::string(pattern) + "/store";
    ::setenv("SOFTSKF_DIR", g_store.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    cDevMgr::setDriverPath(SOFTSKF_LIB);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    int code = 0;
    try {
        makeTokens();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_scaling: %s\n", error.what());
        code = 1;
    }
    benchmark::Shutdown();
    const std::string command = std::string("rm -rf '") + pattern + "'";
    [[maybe_unused]] int ignored = std::system(command.c_str());
    return code;
}
