// Reading the programme information of large recordings. The files are sparse:
// a few table packets at the default start position (half-way) and holes
// elsewhere, so the cost per call shows whether it grows with the file size
// beyond the scan from the start position; and the same tables only at the
// head of a file whose tail is empty. Reports time, bytes read per call and
// whether the programme was found.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TsInfo.h"
#include "tsproginfo.h"

#include "RecordingWriter.h"

namespace {

std::string g_dir;

// Bytes this process has read through read() so far.
long long bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

std::string recordingPath(int64_t size) { return g_dir + "/rec" + std::to_string(size) + ".ts"; }
std::string emptyTailPath(int64_t size) { return g_dir + "/tail" + std::to_string(size) + ".ts"; }

// A file of `size` bytes that holds the given packets at the given offsets
// and holes everywhere else.
bool writeSparseFile(const std::string& path, int64_t size,
                     const std::vector<std::pair<int64_t, const recgen::TsWriter*>>& parts) {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, size) == 0;
    for (const auto& [offset, part] : parts)
        ok = ok && ::pwrite(fd, part->data().data(), part->size(), offset) == static_cast<ssize_t>(part->size());
    ::close(fd);
    return ok;
}

// The programme tables as a broadcast repeats them, for the given name.
recgen::TsWriter programmeTables(const recgen::Bytes& name) {
    recgen::Event e;
    e.startMjd = recgen::mjd(2024, 1, 2);
    e.startBcd = {0x21, 0x00, 0x00};
    e.durationBcd = {0x00, 0x30, 0x00};
    e.descriptors = recgen::cat({recgen::shortEvent(name, name), recgen::content({0x70})});
    recgen::TsWriter w;
    w.putSection(0x00, recgen::pat(1, {{0x0400, 0x1F0}}));
    w.putSection(0x12, recgen::eit(0x0400, 1, 0x7FE0, 0, {e}));
    w.putSection(0x11, recgen::sdt(1, 0x7FE0, {{0x0400, recgen::serviceDesc(1, {}, name)}}));
    w.putNull(4);
    return w;
}

// A recorder that died after preallocating its file: a valid start with the
// programme tables, then nothing but zeros. The scan from half-way finds no
// sync byte at all.
bool makeEmptyTailRecording(int64_t size) {
    const recgen::TsWriter head = programmeTables({0x0E, 'T', 'a', 'i', 'l'});
    return writeSparseFile(emptyTailPath(size), size, {{0, &head}});
}

bool makeSparseRecording(int64_t size) {
    recgen::TsWriter head;
    head.putNull(4);  // enough for the classification at the start
    const recgen::TsWriter mid = programmeTables({0x0E, 'B', 'e', 'n', 'c', 'h'});
    return writeSparseFile(recordingPath(size), size, {{0, &head}, {50 * size / 100, &mid}});
}

// Times one read of the file per iteration and counts the bytes it reads.
void measureRead(benchmark::State& state, const std::string& path) {
    auto info = std::make_unique<ProgInfo>();
    long long bytes = 0;
    int64_t calls = 0;
    int64_t found = 0;
    // Reading /proc/self/io counts too: measure that once and take it off.
    const long long probe = bytesReadSoFar();
    const long long overhead = bytesReadSoFar() - probe;
    for (auto _ : state) {
        const long long before = bytesReadSoFar();
        *info = TsProgInfo().getTsProgInfo(path.c_str());
        state.PauseTiming();
        bytes += bytesReadSoFar() - before - overhead;
        ++calls;
        if (info->status == TS_INFO_SUCCESS) ++found;
        state.ResumeTiming();
        benchmark::DoNotOptimize(info->pnamelen);
    }
    state.counters["bytes_read_per_call"] = calls ? static_cast<double>(bytes) / static_cast<double>(calls) : 0;
    state.counters["file_bytes"] = static_cast<double>(state.range(0));
    state.counters["programme_found"] = calls ? static_cast<double>(found) / static_cast<double>(calls) : 0;
}

void BM_GetTsProgInfo(benchmark::State& state) { measureRead(state, recordingPath(state.range(0))); }

void BM_GetTsProgInfoEmptyTail(benchmark::State& state) { measureRead(state, emptyTailPath(state.range(0))); }

}  // namespace

BENCHMARK(BM_GetTsProgInfoEmptyTail)
    ->Arg(int64_t{1} << 30)
    ->Arg(int64_t{8} << 30)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_GetTsProgInfo)
    ->Arg(int64_t{10} * 1000 * 1000)
    ->Arg(int64_t{1} << 30)
    ->Arg(int64_t{8} << 30)
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "marubo-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_dir = tmpl;
    int rc = 0;
    for (int64_t size : {int64_t{10} * 1000 * 1000, int64_t{1} << 30, int64_t{8} << 30}) {
        if (!makeSparseRecording(size) || !makeEmptyTailRecording(size)) {
            std::fprintf(stderr, "cannot create a sparse recording of %lld bytes in %s\n",
                         static_cast<long long>(size), g_dir.c_str());
            rc = 1;
        }
    }
    if (rc == 0) {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    return rc;
}
