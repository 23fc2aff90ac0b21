// The plane fit of the normal refinement: the covariance of a vertex's neighbours and the
// eigen decomposition of that 3 x 3 matrix, once per vertex. Goal: under 2 microseconds a
// fit. Beside it, the two halves alone, a decomposition of a 4 x 4 matrix, and the
// closed-form fit the refinement uses (KV_Scatter3 and SmallestEigenvector).

#include "math/KV_Covariance.h"
#include "math/KV_Eigen.h"
#include "math/KV_SymmetricEigen3.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace
{

// Sets of eight points near a plane, as the neighbours of a mesh vertex lie.
std::vector<KV_Vector3D> NeighbourSets(int sets)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<KV_Vector3D> points;
    for (int s = 0; s < sets; ++s)
    {
        const KV_Vector3D centre(value(rng) * 100, value(rng) * 100, value(rng) * 100);
        for (int k = 0; k < 8; ++k)
            points.push_back(centre + KV_Vector3D(value(rng), value(rng), 0.05f * value(rng)));
    }
    return points;
}

const int kSets = 1024;

// The covariance of the eight points of one set, built as the plane fit builds it.
void BuildCovarianceOfSet(KV_Covariance& covariance, const std::vector<KV_Vector3D>& points,
                          int set)
{
    for (int k = 0; k < 8; ++k) covariance.AddObservation(points[set * 8 + k]);
    covariance.BuildCovariance(false);
}

void BM_PlaneFit(benchmark::State& state)
{
    const std::vector<KV_Vector3D> points = NeighbourSets(kSets);
    KV_Matrix vectors(3, 3);
    KV_Vector values;
    int set = 0;
    for (auto _ : state)
    {
        KV_Covariance covariance;
        BuildCovarianceOfSet(covariance, points, set);
        EigenDecompose(covariance.Matrix(), vectors, values);
        benchmark::DoNotOptimize(vectors.Column3D(values.IndexOfSmallest()));
        set = (set + 1) % kSets;
    }
    state.counters["ns_per_fit"] = benchmark::Counter(
        double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlaneFit);

void BM_PlaneFitClosedForm(benchmark::State& state)
{
    const std::vector<KV_Vector3D> points = NeighbourSets(kSets);
    const double up[3] = {0.0, 0.0, 1.0};
    double normal[3];
    int set = 0;
    for (auto _ : state)
    {
        KV_Scatter3 scatter;
        for (int k = 0; k < 8; ++k)
        {
            const KV_Vector3D& p = points[set * 8 + k];
            scatter.Add(p.x, p.y, p.z);
        }
        SmallestEigenvector(scatter.Scatter(), up, normal);
        benchmark::DoNotOptimize(normal);
        set = (set + 1) % kSets;
    }
    state.counters["ns_per_fit"] = benchmark::Counter(
        double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlaneFitClosedForm);

void BM_CovarianceOnly(benchmark::State& state)
{
    const std::vector<KV_Vector3D> points = NeighbourSets(kSets);
    int set = 0;
    for (auto _ : state)
    {
        KV_Covariance covariance;
        BuildCovarianceOfSet(covariance, points, set);
        benchmark::DoNotOptimize(covariance.Matrix()(1, 1));
        set = (set + 1) % kSets;
    }
}
BENCHMARK(BM_CovarianceOnly);

template <int N>
void BM_EigenOnly(benchmark::State& state)
{
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<KV_Matrix> matrices;
    for (int s = 0; s < kSets; ++s)
    {
        KV_Matrix m(N, N);
        for (int i = 1; i <= N; ++i)
            for (int j = 1; j <= i; ++j) m(i, j) = m(j, i) = value(rng);
        matrices.push_back(m);
    }
    KV_Matrix vectors(N, N);
    KV_Vector values;
    int set = 0;
    for (auto _ : state)
    {
        EigenDecompose(matrices[set], vectors, values);
        benchmark::DoNotOptimize(values[1]);
        set = (set + 1) % kSets;
    }
}
BENCHMARK_TEMPLATE(BM_EigenOnly, 3);
BENCHMARK_TEMPLATE(BM_EigenOnly, 4);

}  // namespace

BENCHMARK_MAIN();
