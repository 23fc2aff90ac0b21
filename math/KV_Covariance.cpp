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
    }
    else if (dimension != mkMatrix.Rows())
    {
        ReportFatal("Covarience Error", "Incorrect observation vector");
    }
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
    mkMean = mkSum;
    mkMean /= static_cast<float>(munCount);
    if (verbose)
        std::cout << "Dividing cumulative cov matrix by " << munCount << " samples" << std::endl;
    mkMatrix /= static_cast<float>(munCount);
    if (verbose)
        std::cout << "Subtracting mean observation products" << std::endl;
    const int p = mkMatrix.Rows();
    for (int i = 1; i <= p; ++i)
    {
        float* row = mkMatrix.Row(i);
        for (int j = 1; j <= p; ++j)
            row[j - 1] -= mkMean[j] * mkMean[i];
    }
    mbBuilt = true;
}
