// Typing one character into the middle of a long document (20,000 paragraphs, DejaVu through
// Qt on an image canvas), then undoing and redoing it: each step lays out the touched
// paragraph only, so its time should not grow with the document. Counters: milliseconds per
// typed character, per undo and per redo.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_canvas.h"
#include "richtext/edit/RVERVData.h"

namespace {

using namespace pelvar;

constexpr int32_t kParagraphs = 20000;

class TBenchEditDoc : public TRVEditRVData {
 public:
  explicit TBenchEditDoc(TRVStyle* style) : Canvas(640, 800) {
    SetRVStyle(style);
    SetFlags(0x0D03);
    for (int32_t i = 0; i < kParagraphs; ++i)
      AddTextItem("Paragraph " + std::to_string(i) +
                      ": the patient was examined, vaccinated and given a prescription for the next "
                      "fourteen days; the owner will call back when the results arrive.",
                  0, 0);
  }
  TQtImageCanvas Canvas;
  TCanvas* GetCanvas() override { return &Canvas; }
  int32_t GetAreaWidth() override { return 640; }
  int32_t GetAreaHeight() override { return 800; }
  int32_t GetLeftMargin() override { return 5; }
  int32_t GetRightMargin() override { return 5; }
  int32_t GetTopMargin() override { return 5; }
  int32_t GetBottomMargin() override { return 5; }
};

TRVStyle& Style() {
  static TRVStyle style(nullptr);
  return style;
}

void BM_TypeUndoRedoInALongDocument(benchmark::State& state) {
  TBenchEditDoc doc(&Style());
  doc.FormatDocument(false, true, false, 0, &doc.Canvas, false, false, false);
  doc.SetUndoLimit(-1);
  using clock = std::chrono::steady_clock;
  double typing = 0, undo = 0, redo = 0;
  for (auto _ : state) {
    doc.SetCaretAt(kParagraphs / 2, 5);
    const auto t0 = clock::now();
    doc.TypeChar('x');
    const auto t1 = clock::now();
    doc.Undo();
    const auto t2 = clock::now();
    doc.Redo();
    const auto t3 = clock::now();
    doc.Undo();
    typing += std::chrono::duration<double, std::milli>(t1 - t0).count();
    undo += std::chrono::duration<double, std::milli>(t2 - t1).count();
    redo += std::chrono::duration<double, std::milli>(t3 - t2).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["type_ms"] = typing / n;
  state.counters["undo_ms"] = undo / n;
  state.counters["redo_ms"] = redo / n;
}
BENCHMARK(BM_TypeUndoRedoInALongDocument)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
