// The memory map window on the offscreen platform: building and first painting the widest map a file can
// give (0x00000000..0xFFFFFFFF, 134,217,728 data rows), its peak memory against an empty window,
// painting a screen of rows at the top and at the end of that map, repainting the scroll bar with its data
// marks, and opening the list of 100,000 regions.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QProcess>
#include <QAction>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "digest_job.h"
#include "image/image_digest.h"
#include "map_text_file.h"
#include "mapwindow/frm_data.h"
#include "memmap/map_text.h"

namespace {

constexpr int kScreenHeight = 1080;
constexpr int kPanelHeight = 27;

QWidget* g_owner = nullptr;  // the main window stand-in, made in main()

QWidget& Owner() { return *g_owner; }

// A kB figure from /proc/self/status ("VmRSS", "VmHWM"), or -1 when it cannot be read.
long StatusKb(const QByteArray& field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(field + ':')) return line.mid(field.size() + 1).trimmed().split(' ').front().toLong();
  }
  return -1;
}

// Lets the platform expose a newly shown window; the expose paints it for the first time.
bool Expose(QWidget& window) {
  QCoreApplication::processEvents();
  return window.windowHandle() != nullptr && window.windowHandle()->isExposed();
}

std::unique_ptr<QWidget> EmptyWindow() {
  auto window = std::make_unique<QWidget>(&Owner(), Qt::Window);
  window->resize(880, 261);
  window->show();
  return window;
}

// A map of the whole address space, with what fill writes into it.
varnok::MapGrid FullGrid(const std::function<void(varnok::MapGrid&)>& fill = {}) {
  varnok::MapGrid grid;
  grid.Build(0x00000000u, 0xFFFFFFFFu);
  if (fill) fill(grid);
  grid.FindRegions();
  return grid;
}

std::unique_ptr<QWidget> FullMap() {
  auto map = std::make_unique<varnok::Tfrm_Data>(&Owner(), "bench.s19");
  map->SetMap(FullGrid());
  map->ShowMap();
  return map;
}

constexpr char kPeakRssFlag[] = "--peak-rss-of=";

struct ChildRun {
  long peak_kb = -1;      // whole-process peak resident size
  double first_ms = -1;   // building, showing and first painting the window in a process that is still cold
};

// A fresh run that shows one window ("empty" or "map").
ChildRun RunChild(const QString& window) {
  QProcess child;
  child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kPeakRssFlag) + window});
  if (!child.waitForFinished(60000) || child.exitCode() != 0) return {};
  const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
  if (fields.size() != 2) return {};
  return {fields[0].toLong(), fields[1].toDouble()};
}

// Construction (with its event drain and first showing) and the first complete paint of a window made
// by make: the 4 GiB map, and a plain window of the same size for what any window costs.
template <typename Make>
void ConstructAndPaint(benchmark::State& state, Make make) {
  for (auto _ : state) {
    std::unique_ptr<QWidget> window = make();
    if (!Expose(*window)) {
      state.SkipWithError("the window was not exposed");
      return;
    }
    state.PauseTiming();
    window.reset();
    state.ResumeTiming();
  }
}

void BM_Build4GiBMapAndPaint(benchmark::State& state) { ConstructAndPaint(state, FullMap); }
BENCHMARK(BM_Build4GiBMapAndPaint)->Unit(benchmark::kMillisecond);

void BM_EmptyWindowAndPaint(benchmark::State& state) { ConstructAndPaint(state, EmptyWindow); }
BENCHMARK(BM_EmptyWindowAndPaint)->Unit(benchmark::kMillisecond);

// Each figure comes from its own process, so neither window profits from memory the other made resident.
void BM_PeakRss4GiBMapOverEmptyWindow(benchmark::State& state) {
  ChildRun empty;
  ChildRun map;
  for (auto _ : state) {
    empty = RunChild(QStringLiteral("empty"));
    map = RunChild(QStringLiteral("map"));
  }
  if (empty.peak_kb <= 0 || map.peak_kb <= 0) {
    state.SkipWithError("a child run failed");
    return;
  }
  state.counters["empty_window_peak_kB"] = static_cast<double>(empty.peak_kb);
  state.counters["map_peak_kB"] = static_cast<double>(map.peak_kb);
  state.counters["map_over_empty_MB"] = static_cast<double>(map.peak_kb - empty.peak_kb) / 1024.0;
  state.counters["empty_first_ms"] = empty.first_ms;
  state.counters["map_first_ms"] = map.first_ms;
}
BENCHMARK(BM_PeakRss4GiBMapOverEmptyWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

// Shows the map window with a grid `panels` panels short of 1080 pixels plus them, its row `row` selected, and
// times full paints of the grid's viewport; the counters tell what was painted.
void TimeFullPaints(benchmark::State& state, varnok::Tfrm_Data& map, int panels, std::optional<std::int32_t> row) {
  map.ShowMap();
  auto* grid = map.findChild<varnok::MapGridView*>(QStringLiteral("Grid"));
  map.resize(map.width(), kScreenHeight + panels * kPanelHeight);
  if (row) grid->SelectRow(*row < 0 ? grid->RowCount() - 1 : *row);
  QWidget* viewport = grid->viewport();
  if (!Expose(map)) {
    state.SkipWithError("the map window was not exposed");
    return;
  }
  for (auto _ : state) viewport->repaint();
  state.counters["viewport_height"] = viewport->height();
  state.counters["top_row"] = grid->TopRow();
  state.counters["rows_in_view"] = grid->VisibleRowCount() + 1;
}

// One full paint of a grid 1080 pixels high: at the top (arg 0) or scrolled to the last row (arg 1);
// arg 2 is the top with every byte on screen filled.
void BM_PaintScreen(benchmark::State& state) {
  varnok::Tfrm_Data map(&Owner(), "bench.s19");
  map.SetMap(FullGrid([&state](varnok::MapGrid& grid) {
    if (state.range(0) != 2) return;
    std::vector<std::uint8_t> bytes(64 * 1024);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    grid.FillBlock(0, static_cast<std::int32_t>(bytes.size()), bytes.data());
    grid.MarkStartVector(0x40);
  }));
  TimeFullPaints(state, map, 1, state.range(0) == 1 ? std::optional<std::int32_t>(-1) : std::nullopt);
}
BENCHMARK(BM_PaintScreen)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// One full paint of a grid 1080 pixels high, every byte on screen filled, compared with an image in which every
// other byte differs (the most the colouring can cost), at the top of a 4 GiB map.
void BM_PaintComparedScreen(benchmark::State& state) {
  const auto filled = [](std::uint8_t step) {
    return FullGrid([step](varnok::MapGrid& grid) {
      std::vector<std::uint8_t> bytes(64 * 1024);
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * step * (i % 2));
      grid.FillBlock(0, static_cast<std::int32_t>(bytes.size()), bytes.data());
    });
  };
  varnok::Tfrm_Data map(&Owner(), "bench.s19");
  map.SetMap(filled(7));
  map.SetComparison(filled(5), std::nullopt);
  TimeFullPaints(state, map, 2, 1);
}
BENCHMARK(BM_PaintComparedScreen)->Unit(benchmark::kMillisecond);

// One full paint of a grid 1080 pixels high, every byte on screen filled, under the regions of a linker script that
// split every row: each address cell gets a band, half of each row's cells lie outside every region.
void BM_PaintRegionsScreen(benchmark::State& state) {
  QTemporaryDir dir;
  QFile script(dir.filePath(QStringLiteral("target.ld")));
  QByteArray text = "MEMORY\n{\n";
  for (int i = 0; i < 64; ++i) {
    text += QByteArray("  R") + QByteArray::number(i) + " : ORIGIN = " + QByteArray::number(i * 64) + ", LENGTH = 16\n";
  }
  text += "}\n";
  if (!script.open(QIODevice::WriteOnly) || script.write(text) != text.size()) {
    state.SkipWithError("the script could not be written");
    return;
  }
  script.close();
  varnok::Tfrm_Data map(&Owner(), "bench.s19");
  map.SetMap(FullGrid([](varnok::MapGrid& grid) {
    std::vector<std::uint8_t> bytes(64 * 1024, 0x5A);
    grid.FillBlock(0, static_cast<std::int32_t>(bytes.size()), bytes.data());
  }));
  // The script is read beside the window; the regions show once the read has ended.
  map.ReadRegions(script.fileName().toStdString(), std::string());
  while (map.RegionsReading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const auto* panel = map.findChild<QWidget*>(QStringLiteral("ExtraPanel"));
  if (panel == nullptr || !panel->isVisibleTo(&map)) {
    state.SkipWithError("the script could not be read");
    return;
  }
  TimeFullPaints(state, map, 2, 1);
}
BENCHMARK(BM_PaintRegionsScreen)->Unit(benchmark::kMillisecond);

// One repaint of the scroll bar of a 4 GiB map with a byte in each of its 1,048,576 pages, a screen high: the
// marks were taken from the map once, before the loop, as the bar keeps them until the map or its height changes.
void BM_RepaintMarkedScrollBar(benchmark::State& state) {
  varnok::Tfrm_Data map(&Owner(), "bench.s19");
  map.SetMap(FullGrid([](varnok::MapGrid& grid) {
    const std::uint8_t byte = 0x5A;
    for (std::uint64_t address = 0; address <= 0xFFFFFFFFu; address += 4096) {
      grid.FillBlock(static_cast<std::uint32_t>(address), 1, &byte);
    }
    grid.MarkStartVector(0x80000000u);
  }));
  map.ShowMap();
  map.resize(map.width(), kScreenHeight + kPanelHeight);
  if (!Expose(map)) {
    state.SkipWithError("the map window was not exposed");
    return;
  }
  QScrollBar* bar = map.findChild<varnok::MapGridView*>(QStringLiteral("Grid"))->verticalScrollBar();
  bar->repaint();
  for (auto _ : state) bar->repaint();
  state.counters["bar_height"] = bar->height();
  const std::vector<std::uint8_t> marks = map.Map().ScrollMarks(bar->height());
  state.counters["marked_pixel_rows"] = static_cast<double>(marks.size() - std::count(marks.begin(), marks.end(), 0));
}
BENCHMARK(BM_RepaintMarkedScrollBar)->Unit(benchmark::kMillisecond);

// "Regions..." (Ctrl+R) on a map of 100,000 regions until the list has been painted: the dialog is built, shown
// and painted, then closed. The map's fill found the regions when it ended.
void BM_OpenRegionsList(benchmark::State& state) {
  const auto regions_grid = [] {
    return FullGrid([](varnok::MapGrid& grid) {
      const std::uint8_t byte = 0xA5;
      constexpr std::uint32_t kRegions = 100000;
      constexpr std::uint32_t kStride = 0xFFFFFFFFu / kRegions;
      for (std::uint32_t i = 0; i < kRegions; ++i) grid.FillBlock(i * kStride, 1, &byte);
    });
  };
  varnok::Tfrm_Data map(&Owner(), "bench.s19");
  map.SetMap(regions_grid());
  map.ShowMap();
  if (!Expose(map)) {
    state.SkipWithError("the map window was not exposed");
    return;
  }
  auto* grid = map.findChild<varnok::MapGridView*>(QStringLiteral("Grid"));
  QAction* regions = nullptr;
  for (QAction* action : grid->actions()) {
    if (action->text() == QStringLiteral("Regions...")) regions = action;
  }
  if (regions == nullptr) {
    state.SkipWithError("no Regions... command");
    return;
  }
  std::int64_t listed = 0;
  for (auto _ : state) {
    QTimer::singleShot(0, [&listed] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->repaint();
      ++listed;
      dialog->reject();
    });
    regions->trigger();
  }
  if (listed != static_cast<std::int64_t>(state.iterations())) state.SkipWithError("the list did not open");
  state.counters["regions"] = static_cast<double>(map.Map().Regions().size());
}
BENCHMARK(BM_OpenRegionsList)->Unit(benchmark::kMillisecond);

}  // namespace

// The child run of BM_PeakRss4GiBMapOverEmptyWindow: shows one window, prints the peak resident size and
// how long the window took to its first paint.
int PeakRssChild(int argc, char** argv, const std::string& window) {
  QApplication app(argc, argv);
  QWidget owner;
  owner.setGeometry(100, 100, 700, 500);
  owner.show();
  g_owner = &owner;
  QElapsedTimer timer;
  timer.start();
  std::unique_ptr<QWidget> shown = window == "map" ? FullMap() : EmptyWindow();
  if (!Expose(*shown)) return 1;
  const double first_ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
  std::printf("%ld %.3f\n", StatusKb("VmHWM"), first_ms);
  return 0;
}

// "Save map as text..." of a filled 256 MiB image (about 1.4 GB of text) into the folder VARNOK_BENCH_DIR (default
// /dev/shm, where the file system is not what is measured), against writing as many bytes there the same way:
// megabyte writes into a QSaveFile that is committed (fsync and rename). Argument 0 writes the peer's bytes, 1 saves
// with progress reports, 2 saves without.
void BM_SaveMapText(benchmark::State& state) {
  const QString folder = qEnvironmentVariableIsEmpty("VARNOK_BENCH_DIR") ? QStringLiteral("/dev/shm")
                                                                          : qEnvironmentVariable("VARNOK_BENCH_DIR");
  const QString path = QDir(folder).filePath(QStringLiteral("varnok-bench-map.txt"));
  constexpr std::uint32_t kImage = 256u << 20;
  varnok::MapGrid map;
  map.Build(0x10000000, 0x10000000 + kImage - 1);
  std::vector<std::uint8_t> bytes(1 << 20);
  std::uint32_t seed = 7;
  for (auto& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  for (std::uint32_t at = 0; at < kImage; at += static_cast<std::uint32_t>(bytes.size())) {
    map.FillBlock(0x10000000 + at, static_cast<std::int32_t>(bytes.size()), bytes.data());
  }
  std::uint64_t size = 0;
  varnok::MapTextWriter::ForEachChunk(map, [&size](std::string_view text, std::uint64_t) {
    size += text.size();
    return true;
  });
  const std::vector<char> block(1 << 20, 'x');
  for (auto _ : state) {
    if (state.range(0) >= 1) {
      varnok::MapSaveProgress progress;
      if (state.range(0) == 1) progress = [](std::uint64_t, std::uint64_t) { return true; };
      const varnok::MapTextSave save = varnok::WriteMapText(map, path, {}, progress);
      if (save.end != varnok::MapTextSave::End::Saved) state.SkipWithError("the save failed");
    } else {
      QSaveFile file(path);
      file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
      for (std::uint64_t left = size; left > 0;) {
        const auto n = static_cast<qint64>(std::min<std::uint64_t>(left, block.size()));
        file.write(block.data(), n);
        left -= static_cast<std::uint64_t>(n);
      }
      file.commit();
    }
    state.PauseTiming();
    QFile::remove(path);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["text_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_SaveMapText)->ArgName("save")->Arg(0)->Arg(1)->Arg(2)->Iterations(3)->Unit(benchmark::kMillisecond);

// A 531 MB image: filling its map (arg 0), then the window's digests of it and of two regions (arg 1), which run
// beside the UI thread once the map is filled and must take at most 1.5 times as long as the fill.
void BM_MapAndDigests531MB(benchmark::State& state) {
  constexpr std::uint32_t kBase = 0x08000000;
  constexpr std::uint32_t kImage = 531'000'000u & ~((1u << 20) - 1);
  std::vector<std::uint8_t> bytes(1 << 20);
  std::uint32_t seed = 11;
  for (auto& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  const auto fill = [&bytes](varnok::MapGrid& map) {
    map.Build(kBase, kBase + kImage - 1);
    for (std::uint32_t at = 0; at < kImage; at += static_cast<std::uint32_t>(bytes.size())) {
      map.FillBlock(kBase + at, static_cast<std::int32_t>(bytes.size()), bytes.data());
    }
    map.FindRegions();
  };
  const std::vector<varnok::MemoryRegion> regions = {{"FLASH", kBase, kImage / 2}, {"EXT", kBase + kImage / 2, kImage}};
  varnok::PrepareDigests();
  std::optional<varnok::MapGrid> map;
  if (state.range(0) == 1) fill(map.emplace());
  const std::atomic<bool> stop = false;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      state.PauseTiming();
      map.reset();
      state.ResumeTiming();
      fill(map.emplace());
    } else {
      benchmark::DoNotOptimize(varnok::MapDigestLines(*map, regions, stop));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImage);
}
BENCHMARK(BM_MapAndDigests531MB)->ArgName("digests")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 2 && std::string(argv[1]).starts_with(kPeakRssFlag)) {
    return PeakRssChild(argc, argv, std::string(argv[1]).substr(sizeof(kPeakRssFlag) - 1));
  }
  benchmark::Initialize(&argc, argv);
  QApplication app(argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  QWidget owner;
  owner.setGeometry(100, 100, 700, 500);
  owner.show();
  g_owner = &owner;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
