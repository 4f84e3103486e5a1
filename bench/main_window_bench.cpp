// A whole run through the main window on the offscreen platform: "Start parsing..." on a file given with
// --image=PATH, without the map option (arg 0) and with it (arg 1), the map filled and its window shown, timed to the
// end of the run. With --other=PATH as well, the map of the image and then "Compare with..." that file, timed to
// the comparison shown: the ratio to the map alone is what a comparison adds.
// Make a large image with varnok_srec_gen, e.g. `varnok_srec_gen 3 32 243000000 image.s` (about 600 MB).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/frm_gui.h"
#include "mapwindow/frm_data.h"

namespace {

constexpr char kImageFlag[] = "--image=";
constexpr char kOtherFlag[] = "--other=";
QString g_image;
QString g_other;

// Waits until the window is idle again, sleeping until an event or 2 ms are up, as the program's own event loop
// would, rather than taking a core from the run.
void WaitIdle(const varnok::Tfrm_GUI& frm) {
  while (frm.Busy()) {
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

void BM_RunThroughWindow(benchmark::State& state) {
  const QTemporaryDir dir;
  for (auto _ : state) {
    state.PauseTiming();
    {
      varnok::Tfrm_GUI frm(dir.filePath(QStringLiteral("varnok.ini")).toStdString());
      frm.SetOpenFileDialog([](QWidget*, const QString&) { return g_image; });
      frm.findChild<QPushButton*>(QStringLiteral("btn_Open"))->click();
      frm.findChild<QCheckBox*>(QStringLiteral("chk_GenMap"))->setChecked(state.range(0) == 1);
      frm.show();
      QCoreApplication::processEvents();
      state.ResumeTiming();
      frm.findChild<QPushButton*>(QStringLiteral("btn_Parse"))->click();
      // The run goes on beside the window; it has ended when the window is idle again.
      WaitIdle(frm);
      state.PauseTiming();
      if (frm.findChild<QLabel*>(QStringLiteral("lbl_Stat"))->text() != QStringLiteral("Parsing successfully finished...")) {
        state.SkipWithError("the run did not succeed");
      }
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RunThroughWindow)->Arg(0)->Arg(1)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

// The map of the image, then its comparison with --other: the whole of it (arg 0), to set beside the map alone
// above, and the comparison alone (arg 1).
void BM_CompareThroughWindow(benchmark::State& state) {
  if (g_other.isEmpty()) {
    state.SkipWithError("no --other=PATH");
    return;
  }
  const QTemporaryDir dir;
  for (auto _ : state) {
    state.PauseTiming();
    {
      varnok::Tfrm_GUI frm(dir.filePath(QStringLiteral("varnok.ini")).toStdString());
      frm.show();
      QCoreApplication::processEvents();
      if (state.range(0) == 0) state.ResumeTiming();
      frm.TickMapOption();
      frm.OpenFile(g_image.toStdString());
      WaitIdle(frm);
      if (frm.MapWindow() == nullptr) {
        state.SkipWithError("the first map did not open");
        break;
      }
      if (state.range(0) == 1) state.ResumeTiming();
      frm.MapWindow()->CompareWith(g_other.toStdString());
      WaitIdle(frm);
      state.PauseTiming();
      if (frm.MapWindow()->Other() == nullptr) state.SkipWithError("the comparison did not open");
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CompareThroughWindow)->Arg(0)->Arg(1)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with(kImageFlag)) g_image = QString::fromLocal8Bit(arg.substr(sizeof(kImageFlag) - 1));
    if (arg.starts_with(kOtherFlag)) g_other = QString::fromLocal8Bit(arg.substr(sizeof(kOtherFlag) - 1));
  }
  if (g_image.isEmpty()) {
    std::fprintf(stderr, "usage: varnok_main_window_bench --image=PATH [--other=PATH] [benchmark options]\n");
    return 2;
  }
  QApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
