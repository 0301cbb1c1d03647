// The two rotation kernels alone on a 4096 x 4096 frame: a quarter turn that
// moves values and a 30 degree interpolating resample (through each row
// kernel variant the processor runs), on one thread; then the chosen
// interpolation variant on 1 and 2 threads, timed by the clock on the wall
// (the processor time of the timing thread would leave out the others). The frame holds
// x + 1000*y inside a centred circular aperture and INVALID_HEIGHT outside it,
// as a measurement does. The result is refilled with INVALID_HEIGHT before
// every iteration, outside the timed part: the state the exact kernel
// requires (the interpolating one overwrites every point anyway).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <spinmap/matrix/matrix.h>
#include <spinmap/platform/platform.h>
#include <spinmap/transform/interp_lanes.h>
#include <spinmap/transform/transform.h>

namespace spinmap {
namespace {

constexpr int16_t FRAME = 4096;

struct frame_pair {
    owned_height source;
    owned_height result;
};

void fill_aperture(height_matrix* m) {
    const double c = (FRAME - 1) / 2.0;
    const double r = FRAME / 2.0 - 8;
    for (int32_t y = 0; y < FRAME; ++y) {
        for (int32_t x = 0; x < FRAME; ++x) {
            const double dx = x - c;
            const double dy = y - c;
            const bool inside = dx * dx + dy * dy <= r * r;
            m->matrix[static_cast<std::size_t>(y) * FRAME + x] = inside ? x + 1000 * y : INVALID_HEIGHT;
        }
    }
}

bool make_frames(frame_pair* f) {
    f->source.window = window{0, 0, FRAME, FRAME};
    f->result.window = f->source.window;
    if (matrix_alloc(&f->source) != 0 || matrix_alloc(&f->result) != 0) return false;
    fill_aperture(&f->source);
    return true;
}

// Frame centre: a pivot on half pixels, so the quarter turn maps the frame onto itself.
constexpr double PIVOT = (FRAME - 1) / 2.0;

// The kernel on `threads` threads.
template <typename Kernel>
void run_kernel(benchmark::State& state, Kernel kernel, int threads = 1) {
    u_set_thread_count(threads);
    frame_pair f;
    if (!make_frames(&f)) {
        state.SkipWithError("out of memory");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        matrix_fill(&f.result, INVALID_HEIGHT);
        state.ResumeTiming();
        const int error = kernel(f);
        if (error != 0) {
            state.SkipWithError("kernel failed");
            break;
        }
        benchmark::DoNotOptimize(f.result.matrix);
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(FRAME) * FRAME;
}

void BM_matrix_rotate_exact_quarter(benchmark::State& state) {
    run_kernel(state, [](frame_pair& f) { return matrix_rotate_exact(&f.source, &f.result, PIVOT, PIVOT, 90); });
}

// The interpolating kernel through one row kernel variant; one benchmark per
// variant this processor runs, named after it.
void BM_matrix_resample_interp_30(benchmark::State& state, interp_lanes lanes) {
    run_kernel(state, [lanes](frame_pair& f) { return resample_interp_with(lanes, &f.source, &f.result, PIVOT, PIVOT, 30); });
}

// The chosen variant on the thread count the benchmark's argument gives.
void BM_matrix_resample_interp_30_threads(benchmark::State& state) {
    const interp_lanes lanes = widest_interp_lanes();
    run_kernel(
        state, [lanes](frame_pair& f) { return resample_interp_with(lanes, &f.source, &f.result, PIVOT, PIVOT, 30); },
        static_cast<int>(state.range(0)));
}

void register_kernels() {
    benchmark::RegisterBenchmark("BM_matrix_rotate_exact_quarter", BM_matrix_rotate_exact_quarter)
        ->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(7);
    for (const interp_lanes lanes : {interp_lanes::plain, interp_lanes::sse2, interp_lanes::avx2, interp_lanes::avx512}) {
        if (!has_interp_lanes(lanes)) continue;
        const std::string name = std::string("BM_matrix_resample_interp_30/") + interp_lanes_name(lanes) +
                                 (lanes == widest_interp_lanes() ? "/chosen" : "");
        benchmark::RegisterBenchmark(name.c_str(), BM_matrix_resample_interp_30, lanes)
            ->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(7);
    }
    benchmark::RegisterBenchmark("BM_matrix_resample_interp_30_threads", BM_matrix_resample_interp_30_threads)
        ->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(0.2)->Repetitions(7);
}

}  // namespace
}  // namespace spinmap

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    spinmap::register_kernels();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
