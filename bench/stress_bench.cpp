// Runs searches over a folder again and again, pressing Pause, Resume and Stop at random
// moments from another thread, and checks that every run ends and that the counts of the runs
// that were not stopped agree. Usage: stress_bench FOLDER TEXT [RUNS]
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "app/headless_view.h"
#include "app/run_driver.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: stress_bench FOLDER TEXT [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 200;
    std::FILE* quiet = std::fopen("/dev/null", "w");
    ferret::HeadlessView view(false, quiet);
    ferret::RunDriver driver(view);
    ferret::SearchFields fields;
    fields.folder = argv[1];
    fields.file_mask = "*.*";
    fields.recursive = true;
    fields.search_text = argv[2];

    driver.StartProcess({ferret::RunKind::kSearch, fields});
    const std::int32_t full_count = driver.StringsFound();
    std::mt19937 random(12345);
    int stopped = 0, completed = 0, pauses = 0, wrong = 0;
    const auto began = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) {
        std::atomic<bool> done{false};
        std::thread presser([&] {
            std::uniform_int_distribution<int> wait(0, 3000);
            std::uniform_int_distribution<int> action(0, 9);
            bool paused = false;
            while (!done.load()) {
                std::this_thread::sleep_for(std::chrono::microseconds(wait(random)));
                const int what = action(random);
                if (what < 6) {
                    paused = driver.PressPause();
                    ++pauses;
                } else if (what == 6) {
                    driver.PressStop();
                    return;
                } else if (paused) {
                    paused = driver.PressPause();
                }
            }
        });
        driver.StartProcess({ferret::RunKind::kSearch, fields});
        done.store(true);
        presser.join();
        if (driver.StringsFound() == full_count) {
            ++completed;
        } else if (driver.StringsFound() < full_count) {
            ++stopped;
        } else {
            ++wrong;  // more hits than the whole tree holds
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%d runs in %.1f s: %d complete, %d stopped early, %d with wrong counts, %d "
        "pause presses; peak memory %ld KB\n",
        runs, seconds, completed, stopped, wrong, pauses, usage.ru_maxrss);
    return wrong == 0 ? 0 : 1;
}
