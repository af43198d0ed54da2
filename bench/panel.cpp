// velmor-bench-panel: what the panel's meters cost while recording.
//   velmor-bench-panel SECONDS [shown]
// Records SECONDS from the audio server as the app does (the capture, the work files, the
// background export), with the panel hidden or, with "shown", shown (offscreen) through the
// whole recording, its meters read ten times a second. Prints the user and system CPU seconds.
#include "PanelView.h"
#include "Recorder.h"

#include <QApplication>
#include <QCoroTimer>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

QCoro::Task<int> record(Recorder& recorder, int seconds) {
    co_await recorder.start();
    if (!recorder.isRecording()) {
        std::fprintf(stderr, "%s\n", qPrintable(recorder.status()));
        co_return 1;
    }
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(seconds * 1000);
    co_await timer;
    recorder.closeWorkFiles();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("cpu_s=%.2f\n", double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                    double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    co_return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2) {
        std::fprintf(stderr, "usage: velmor-bench-panel SECONDS [shown]\n");
        return 2;
    }
    Recorder recorder;
    PanelView panel(recorder);
    if (args.value(1) == QLatin1String("shown")) {
        panel.show();
    }
    return QCoro::waitFor(record(recorder, args[0].toInt()));
}
