// Formatting and painting a 2,000-paragraph document with the DejaVu fonts on the Qt image
// canvas: a full format, a one-paragraph partial reformat after an edit, and painting one
// screen of the formatted document.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "platform/qt/qt_canvas.h"
#include "richtext/view/CRVFData.h"

namespace {

using namespace pelvar;

constexpr int32_t kParagraphs = 2000;

class TBenchDoc : public TCustomRVFormattedData {
 public:
  explicit TBenchDoc(TRVStyle* style) : Canvas(640, 800) {
    SetRVStyle(style);
    SetFlags(0x0D03);
    for (int32_t i = 0; i < kParagraphs; ++i)
      AddTextItem("Paragraph " + std::to_string(i) +
                      ": the patient was examined, vaccinated and given a prescription for the next "
                      "fourteen days; the owner will call back when the results arrive.",
                  i % 4, i % 2);
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

void BM_FormatFull(benchmark::State& state) {
  TBenchDoc doc(&Style());
  for (auto _ : state) {
    doc.FormatDocument(false, true, false, 0, &doc.Canvas, false, false, false);
    benchmark::DoNotOptimize(doc.DocumentHeight);
  }
  state.counters["paragraphs/s"] = benchmark::Counter(static_cast<double>(kParagraphs) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FormatFull)->Unit(benchmark::kMillisecond);

void BM_ReformatOneParagraph(benchmark::State& state) {
  TBenchDoc doc(&Style());
  doc.FormatDocument(false, true, false, 0, &doc.Canvas, false, false, false);
  const int32_t item = kParagraphs / 2;
  bool flip = false;
  for (auto _ : state) {
    // An edit in the middle of the document, then its paragraph formatted again.
    AnsiString text = doc.GetItemTextRaw(item);
    text[0] = flip ? 'P' : 'Q';
    flip = !flip;
    doc.SetItemTextRaw(item, text);
    int32_t first = -1, last = -1;
    doc.GetFirstDrawItemOfItem(item, first);
    doc.GetLastDrawItemOfItem(item, last);
    doc.FormatParasExact(first, last, 0, false, false);
  }
  state.counters["paragraphs/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReformatOneParagraph)->Unit(benchmark::kMicrosecond);

void BM_PaintScreen(benchmark::State& state) {
  TBenchDoc doc(&Style());
  doc.FormatDocument(false, true, false, 0, &doc.Canvas, false, false, false);
  for (auto _ : state) {
    doc.DrawBackground(doc.Canvas, TRect{0, 0, 640, 800});
    doc.PaintTo(doc.Canvas, TRect{0, 0, 640, 800});
  }
}
BENCHMARK(BM_PaintScreen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
