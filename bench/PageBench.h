// What the page benchmarks share: the run length, the process's CPU time,
// an event loop that runs for a while, the module emulator in a process of
// its own, and a main() that runs the benchmarks under a QApplication
// (offscreen unless QT_QPA_PLATFORM says otherwise).
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <sys/resource.h>

#include <cstdlib>

namespace page_bench {

// KVEL_BENCH_SECONDS, default 60.
inline int RunSeconds() {
    const char* text = std::getenv("KVEL_BENCH_SECONDS");
    const int seconds = text ? std::atoi(text) : 60;
    return seconds > 0 ? seconds : 60;
}

inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline void RunEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Starts the emulator executable in `process`; its port number, or -1 when
// it did not start (the benchmark is then skipped with that error).
inline int StartEmulatorProcess(QProcess& process, const char* executable,
                                benchmark::State& state) {
    process.start(QString::fromLocal8Bit(executable), {});
    if (!process.waitForReadyRead(10000)) {
        state.SkipWithError("radar-emulator did not start");
        return -1;
    }
    // "COM<n> <device path>"
    return QString::fromUtf8(process.readLine()).section(' ', 0, 0).mid(3).toInt();
}

inline int RunBenchmarks(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace page_bench
