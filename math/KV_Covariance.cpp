#include "math/KV_Covariance.h"

#include "foundation/KV_Report.h"

#include <iostream>
#include <string>

void KV_Covariance::StartObservation(int dimension)
{
    mbBuilt = false;
    if (dimension == 0)
        ReportFatal("Covarience Error", "Zero length observation vector");
    if (munCount == 0)
    {
        mkMatrix.Resize(dimension, dimension);
        float* m = mkMatrix.Data();
        for (unsigned int k = 0; k < mkMatrix.Count(); ++k)
            m[k] = 0.0f;
        mkSum.Resize(dimension);
        for (int i = 1; i <= dimension; ++i)
            mkSum[i] = 0.0f;
        mkOrigin.clear();
        mkCentredSum.assign(static_cast<std::size_t>(dimension), 0.0);
        mkCentredProducts.assign(static_cast<std::size_t>(dimension) * dimension, 0.0);
    }
    else if (dimension != mkMatrix.Rows())
    {
        ReportFatal("Covarience Error", "Incorrect observation vector");
    }
}

void KV_Covariance::AccumulateCentred(const float* r, int p)
{
    if (mkOrigin.empty())
        mkOrigin.assign(r, r + p);
    double d[16];
    std::vector<double> wide;
    double* centred = d;
    if (p > 16)
    {
        wide.resize(static_cast<std::size_t>(p));
        centred = wide.data();
    }
    for (int i = 0; i < p; ++i)
    {
        centred[i] = static_cast<double>(r[i]) - mkOrigin[i];
        mkCentredSum[i] += centred[i];
    }
    for (int j = 0; j < p; ++j)
        for (int i = 0; i < p; ++i)
            mkCentredProducts[static_cast<std::size_t>(j) * p + i] += centred[i] * centred[j];
}

void KV_Covariance::AddObservation(const KV_Vector& observation)
{
    const int p = observation.Length();
    StartObservation(p);
    mkSum += observation;
    munCount += 1;
    for (int j = 1; j <= p; ++j)
    {
        float* row = mkMatrix.Row(j);
        for (int i = 1; i <= p; ++i)
            row[i - 1] += observation[i] * observation[j];
    }
    AccumulateCentred(&observation[1], p);
}

void KV_Covariance::AddObservation(const KV_Vector3D& observation)
{
    // The same sums as for a KV_Vector of length 3, without building one per point.
    StartObservation(3);
    const float r[3] = {observation.x, observation.y, observation.z};
    for (int i = 0; i < 3; ++i)
        mkSum[i + 1] += r[i];
    munCount += 1;
    for (int j = 0; j < 3; ++j)
    {
        float* row = mkMatrix.Row(j + 1);
        for (int i = 0; i < 3; ++i)
            row[i] += r[i] * r[j];
    }
    AccumulateCentred(r, 3);
}

void KV_Covariance::AddObservations(const KV_List<KV_Vector3D>& observations, bool verbose)
{
    for (unsigned int k = 0; k < observations.Count(); ++k)
        AddObservation(observations[k]);
    BuildCovariance(verbose);
}

void KV_Covariance::BuildCovariance(bool verbose)
{
    if (munCount <= 1)
    {
        mbBuilt = false;
        const std::string caption = "Can not build covariance matrix " +
                                    std::to_string(munCount) +
                                    " observations loaded *(min = 2)";
        ReportMessage("Covarience Error", caption.c_str());
        return;
    }
    if (verbose)
        std::cout << "Calculating mean observation" << std::endl;
    const int p = mkMatrix.Rows();
    const double n = static_cast<double>(munCount);
    mkMean = mkSum;  // sized like the observations
    for (int i = 1; i <= p; ++i)
        mkMean[i] = static_cast<float>(mkOrigin[i - 1] + mkCentredSum[i - 1] / n);
    if (verbose)
        std::cout << "Dividing cumulative cov matrix by " << munCount << " samples" << std::endl;
    if (verbose)
        std::cout << "Subtracting mean observation products" << std::endl;
    for (int i = 1; i <= p; ++i)
    {
        float* row = mkMatrix.Row(i);
        const double mi = mkCentredSum[i - 1] / n;
        for (int j = 1; j <= p; ++j)
        {
            const double mj = mkCentredSum[j - 1] / n;
            const double product = mkCentredProducts[static_cast<std::size_t>(i - 1) * p + (j - 1)];
            row[j - 1] = static_cast<float>(product / n - mi * mj);
        }
    }
    mbBuilt = true;
}
