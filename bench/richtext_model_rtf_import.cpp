// RTF import of a long document (about 5 MB, written by pandoc from a long Markdown text
// with Czech paragraphs, bold, italic and lists) into a document with styles added as
// needed, against `pandoc -f rtf -t native` and `unrtf --text` on the same file in the same
// run. Counters: MB/s of each and how many times faster the import is than each peer.
// And a document of 2,400 list items written by LibreOffice: its import and its plain-text
// export (in its code page and as UTF-16) against `pandoc -f rtf -t native` and
// `pandoc -f rtf -t plain`.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVRTFProps.h"

namespace {

const char* kDir = "/tmp/pelvar_bench_rtf";

bool Have(const char* program) { return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0; }

// The RTF file, made once per machine (pandoc takes a while for 5 MB).
const std::string& RtfFile() {
  static std::string path;
  if (!path.empty()) return path;
  const std::string rtf = std::string(kDir) + "/long.rtf";
  struct stat st {};
  if (stat(rtf.c_str(), &st) != 0 || st.st_size < 4'000'000) {
    mkdir(kDir, 0700);
    const std::string md = std::string(kDir) + "/long.md";
    std::ofstream out(md);
    for (int i = 0; i < 12000; ++i) {
      out << "Odstavec " << i << ": Příliš **žluťoučký kůň** úpěl *ďábelské ódy*, "
          << "zatímco Šárka Čermáková a Jiří Řehoř psali dlouhý text o veterinární péči, "
          << "očkování, odčervení a kontrolách zdraví zvířat v ordinaci.\n\n";
      if (i % 10 == 0) out << "- první bod\n- druhý bod\n\n";
    }
    out.close();
    if (std::system(("pandoc -s -f markdown -t rtf -o " + rtf + " " + md).c_str()) != 0) return path;
  }
  path = rtf;
  return path;
}

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Seconds one run of a shell command takes.
double TimeCommand(const std::string& cmd) {
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_RTFImport(benchmark::State& state) {
  if (!Have("pandoc")) {
    state.SkipWithError("pandoc is needed to make the input");
    return;
  }
  const std::string& file = RtfFile();
  if (file.empty()) {
    state.SkipWithError("pandoc could not make the input");
    return;
  }
  const std::string data = ReadAll(file);
  const double mb = static_cast<double>(data.size()) / 1e6;
  double own_seconds = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    pelvar::TRVStyle style(nullptr);
    pelvar::TCustomRVData doc;
    doc.SetRVStyle(&style);
    pelvar::TRVRTFReaderProperties props;
    props.TextStyleMode = pelvar::rvrsAddIfNeeded;
    props.ParaStyleMode = pelvar::rvrsAddIfNeeded;
    props.UnicodeMode = pelvar::rvruMixed;
    pelvar::TStringStream in(data);
    int32_t index = 0;
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(props.ReadRTFFromStream(in, &doc, index));
    own_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ++runs;
    benchmark::DoNotOptimize(doc.ItemCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(data.size()) * state.iterations());
  const double own = own_seconds / static_cast<double>(std::max<int64_t>(runs, 1));
  state.counters["input_MB"] = mb;
  state.counters["MB/s"] = mb / own;
  const double pandoc = TimeCommand("pandoc -f rtf -t native -o /dev/null " + file);
  if (pandoc > 0) {
    state.counters["pandoc_MB/s"] = mb / pandoc;
    state.counters["x_vs_pandoc"] = pandoc / own;
  }
  if (Have("unrtf")) {
    const double unrtf = TimeCommand("unrtf --text " + file + " >/dev/null 2>&1");
    if (unrtf > 0) {
      state.counters["unrtf_MB/s"] = mb / unrtf;
      state.counters["x_vs_unrtf"] = unrtf / own;
    }
  }
}
BENCHMARK(BM_RTFImport)->Unit(benchmark::kMillisecond)->Iterations(3);

// 2,400 list items in three lists (numbered, bulleted, numbered with a second level), Czech
// text, through LibreOffice (HTML -> ODT -> RTF), made once per machine.
const std::string& ListRtfFile() {
  static std::string path;
  if (!path.empty()) return path;
  const std::string rtf = std::string(kDir) + "/lists.rtf";
  struct stat st {};
  if (stat(rtf.c_str(), &st) != 0 || st.st_size < 100'000) {
    mkdir(kDir, 0700);
    const std::string html = std::string(kDir) + "/lists.html";
    std::ofstream out(html);
    out << "<html><head><meta charset=\"utf-8\"></head><body>";
    for (int block = 0; block < 12; ++block) {
      out << (block % 2 ? "<ul>" : "<ol>");
      for (int i = 0; i < 200; ++i) {
        out << "<li>Položka " << block << "." << i << ": příliš žluťoučký kůň úpěl ďábelské ódy, očkování a kontrola.";
        if (block % 3 == 2 && i % 10 == 0) out << "<ol><li>vnořená položka</li></ol>";
        out << "</li>";
      }
      out << (block % 2 ? "</ul>" : "</ol>") << "<p>Odstavec mezi seznamy.</p>";
    }
    out << "</body></html>";
    out.close();
    const std::string lo = "soffice --headless -env:UserInstallation=file://" + std::string(kDir) + "/lo ";
    if (std::system((lo + "--infilter='HTML (StarWriter)' --convert-to odt --outdir " + kDir + " " + html +
                     " >/dev/null 2>&1").c_str()) != 0 ||
        std::system((lo + "--convert-to rtf --outdir " + kDir + " " + kDir + "/lists.odt >/dev/null 2>&1").c_str()) != 0)
      return path;
  }
  path = rtf;
  return path;
}

void ImportInto(const std::string& data, pelvar::TCustomRVData& doc) {
  pelvar::TRVRTFReaderProperties props;
  props.TextStyleMode = pelvar::rvrsAddIfNeeded;
  props.ParaStyleMode = pelvar::rvrsAddIfNeeded;
  props.UnicodeMode = pelvar::rvruMixed;
  pelvar::TStringStream in(data);
  int32_t index = 0;
  benchmark::DoNotOptimize(props.ReadRTFFromStream(in, &doc, index));
}

void BM_ListImportAndTextExport(benchmark::State& state) {
  if (!Have("pandoc") || !Have("soffice")) {
    state.SkipWithError("pandoc and LibreOffice are needed");
    return;
  }
  const std::string& file = ListRtfFile();
  if (file.empty()) {
    state.SkipWithError("LibreOffice could not make the input");
    return;
  }
  const std::string data = ReadAll(file);
  double import_s = 0, export_s = 0;
  int64_t runs = 0, markers = 0;
  for (auto _ : state) {
    pelvar::TRVStyle style(nullptr);
    pelvar::TCustomRVData doc;
    doc.SetRVStyle(&style);
    const auto t0 = std::chrono::steady_clock::now();
    ImportInto(data, doc);
    const auto t1 = std::chrono::steady_clock::now();
    for (bool unicode : {false, true}) {
      pelvar::TMemoryStream out;
      benchmark::DoNotOptimize(doc.SaveTextToStream("", out, 80, false, false, unicode, unicode));
    }
    const auto t2 = std::chrono::steady_clock::now();
    import_s += std::chrono::duration<double>(t1 - t0).count();
    export_s += std::chrono::duration<double>(t2 - t1).count() / 2;
    markers = doc.GetMarkers(false) ? static_cast<int64_t>(doc.GetMarkers(false)->size()) : 0;
    ++runs;
  }
  const double n = static_cast<double>(std::max<int64_t>(runs, 1));
  state.counters["input_MB"] = static_cast<double>(data.size()) / 1e6;
  state.counters["markers"] = static_cast<double>(markers);
  state.counters["import_s"] = import_s / n;
  state.counters["text_export_s"] = export_s / n;
  const double native = TimeCommand("pandoc -f rtf -t native -o /dev/null " + file);
  const double plain = TimeCommand("pandoc -f rtf -t plain -o /dev/null " + file);
  if (native > 0) {
    state.counters["pandoc_native_s"] = native;
    state.counters["x_import_vs_pandoc"] = native / (import_s / n);
  }
  if (plain > 0) {
    state.counters["pandoc_plain_s"] = plain;
    state.counters["x_import_export_vs_pandoc_plain"] = plain / ((import_s + export_s) / n);
  }
}
BENCHMARK(BM_ListImportAndTextExport)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
