// The Wayland adapter's look-up of a window's process: sway's tree of N
// windows parsed as GET_TREE answers it, and, when run inside sway, the
// whole round trip on $SWAYSOCK.
//   compositor_ipc_bench [--windows N,N,...] [--repeat N]
#include "qvrecorder/session/wayland/compositor_ipc.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A tree shaped like sway's: outputs, workspaces, and windows with the
// fields sway gives each (rectangles, marks, idle inhibitors...).
std::string Tree(std::size_t windows) {
    std::string tree =
        R"({"id":1,"type":"root","name":"root","rect":{"x":0,"y":0,"width":1280,"height":720},"nodes":[)"
        R"({"id":2,"type":"output","name":"HEADLESS-1","nodes":[{"id":3,"type":"workspace","name":"1","nodes":[)";
    for (std::size_t i = 0; i < windows; ++i) {
        const std::string n = std::to_string(i);
        tree += (i ? "," : "");
        tree += R"({"id":)" + std::to_string(10 + i) +
                R"(,"type":"con","orientation":"none","percent":0.5,)"
                R"("urgent":false,"marks":[],"focused":)" +
                (i + 1 == windows ? "true" : "false") +
                R"(,"layout":"none","border":"normal","current_border_width":2,)"
                R"("rect":{"x":0,"y":0,"width":640,"height":720},"deco_rect":{"x":0,"y":0,"width":0,"height":0},)"
                R"("window_rect":{"x":2,"y":2,"width":636,"height":716},"geometry":{"x":0,"y":0,"width":636,)"
                R"("height":716},"name":"Window \u2014 number )" +
                n +
                R"(","window":null,"nodes":[],)"
                R"("floating_nodes":[],"focus":[],"fullscreen_mode":0,"sticky":false,"pid":)" +
                std::to_string(1000 + i) + R"(,"app_id":"app-)" + n +
                R"(","visible":true,"max_render_time":0,"shell":"xdg_shell",)"
                R"("inhibit_idle":false,"idle_inhibitors":{"user":"none","application":"none"}})";
    }
    return tree + "]}]}]}";
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes{10, 100, 1000, 10000};
    int repeat = 21;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--windows") == 0) {
            sizes.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string n; std::getline(list, n, ',');) sizes.push_back(std::stoul(n));
        } else if (std::strcmp(argv[i], "--repeat") == 0) {
            repeat = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    std::printf("%10s %12s %12s\n", "windows", "JSON bytes", "parse ms");
    for (const std::size_t windows : sizes) {
        const std::string tree = Tree(windows);
        std::vector<double> times;
        for (int r = 0; r < repeat; ++r) {
            std::string error;
            const auto start = Clock::now();
            const auto views = qv::recorder::ParseSwayTree(tree, error);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!views || views->size() != windows) {
                std::fprintf(stderr, "compositor_ipc_bench: the tree was misread: %s\n", error.c_str());
                return 1;
            }
        }
        std::printf("%10zu %12zu %12.3f\n", windows, tree.size(), Median(times));
    }
    if (const char* socket = std::getenv("SWAYSOCK")) {
        std::vector<double> times;
        std::size_t windows = 0;
        for (int r = 0; r < repeat; ++r) {
            std::string error;
            const auto start = Clock::now();
            const auto views = qv::recorder::SwayViews(socket, error);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            if (!views) {
                std::fprintf(stderr, "compositor_ipc_bench: %s\n", error.c_str());
                return 1;
            }
            windows = views->size();
        }
        std::printf("GET_TREE on $SWAYSOCK, %zu windows: %.3f ms (median)\n", windows, Median(times));
    }
    return 0;
}
