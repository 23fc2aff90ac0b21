#include "math/KV_Covariance.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

namespace {

KV_Vector Observation(std::initializer_list<float> values)
{
    KV_Vector v(static_cast<int>(values.size()));
    int i = 1;
    for (float x : values)
        v[i++] = x;
    return v;
}

}  // namespace

TEST(KV_Covariance, TwoPointsOnTheXAxis)
{
    KV_Covariance c;
    c.AddObservation(KV_Vector3D(0, 0, 0));
    c.AddObservation(KV_Vector3D(2, 0, 0));
    c.BuildCovariance(false);
    ASSERT_TRUE(c.IsBuilt());
    EXPECT_EQ(c.Count(), 2u);
    EXPECT_EQ(c.Mean()[1], 1.0f);
    EXPECT_EQ(c.Mean()[2], 0.0f);
    EXPECT_EQ(c.Mean()[3], 0.0f);
    const KV_Matrix& m = c.Matrix();
    ASSERT_EQ(m.Rows(), 3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(m(i, j), i == 1 && j == 1 ? 1.0f : 0.0f);
}

TEST(KV_Covariance, PopulationCovarianceOfGeneralObservations)
{
    // x = (1, 2, 3, 6), y = (2, 0, 2, 4): means 3 and 2, population variances 3.5 and 2,
    // covariance (−2·0 + −1·−2 + 0·0 + 3·2)/4 = 2.
    KV_Covariance c;
    c.AddObservation(Observation({1, 2}));
    c.AddObservation(Observation({2, 0}));
    c.AddObservation(Observation({3, 2}));
    c.AddObservation(Observation({6, 4}));
    c.BuildCovariance(false);
    ASSERT_TRUE(c.IsBuilt());
    EXPECT_EQ(c.Mean()[1], 3.0f);
    EXPECT_EQ(c.Mean()[2], 2.0f);
    EXPECT_EQ(c.Matrix()(1, 1), 3.5f);
    EXPECT_EQ(c.Matrix()(2, 2), 2.0f);
    EXPECT_EQ(c.Matrix()(1, 2), 2.0f);
    EXPECT_EQ(c.Matrix()(2, 1), 2.0f);
}

TEST(KV_Covariance, VectorAndPointObservationsAgree)
{
    KV_Covariance byPoint;
    KV_Covariance byVector;
    const float points[4][3] = {{1, 2, 3}, {-4, 5, 0.5f}, {7, -8, 9}, {0.25f, 0, -1}};
    for (const auto& p : points)
    {
        byPoint.AddObservation(KV_Vector3D(p[0], p[1], p[2]));
        byVector.AddObservation(Observation({p[0], p[1], p[2]}));
    }
    byPoint.BuildCovariance(false);
    byVector.BuildCovariance(false);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(byPoint.Matrix()(i, j), byVector.Matrix()(i, j));
}

TEST(KV_Covariance, AddObservationsBuildsFromAList)
{
    KV_List<KV_Vector3D> points(2);
    points.Append(KV_Vector3D(1, 1, 1));
    points.Append(KV_Vector3D(3, 1, 1));
    points.Append(KV_Vector3D(2, 4, 1));
    KV_Covariance c;
    c.AddObservations(points, false);
    ASSERT_TRUE(c.IsBuilt());
    EXPECT_EQ(c.Mean()[1], 2.0f);
    EXPECT_EQ(c.Mean()[2], 2.0f);
    EXPECT_EQ(c.Matrix()(3, 3), 0.0f);
    EXPECT_FLOAT_EQ(c.Matrix()(2, 2), 2.0f);
    // An observation after building clears the built state.
    c.AddObservation(KV_Vector3D(0, 0, 0));
    EXPECT_FALSE(c.IsBuilt());
}

TEST(KV_Covariance, VerboseBuildWritesProgressToStdout)
{
    KV_Covariance c;
    c.AddObservation(KV_Vector3D(0, 0, 0));
    c.AddObservation(KV_Vector3D(2, 0, 0));
    c.AddObservation(KV_Vector3D(4, 0, 0));
    testing::internal::CaptureStdout();
    c.BuildCovariance(true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Calculating mean observation\n"
              "Dividing cumulative cov matrix by 3 samples\n"
              "Subtracting mean observation products\n");

    KV_Covariance quiet;
    quiet.AddObservation(KV_Vector3D(0, 0, 0));
    quiet.AddObservation(KV_Vector3D(2, 0, 0));
    testing::internal::CaptureStdout();
    quiet.BuildCovariance(false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(KV_Covariance, TooFewObservationsAreReportedAndLeaveTheSums)
{
    ReportRecorder recorder;
    KV_Covariance c;
    c.AddObservation(KV_Vector3D(1, 2, 3));
    c.BuildCovariance(true);
    EXPECT_FALSE(c.IsBuilt());
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Reports()[0].text, "Covarience Error");
    EXPECT_EQ(recorder.Reports()[0].caption,
              "Can not build covariance matrix 1 observations loaded *(min = 2)");
    EXPECT_EQ(recorder.Reports()[0].kind, KV_ReportKind::Message);
    EXPECT_EQ(c.Matrix()(1, 1), 1.0f);
    EXPECT_EQ(c.Matrix()(2, 3), 6.0f);
    EXPECT_EQ(c.Matrix()(3, 3), 9.0f);

    KV_Covariance none;
    none.BuildCovariance(false);
    ASSERT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(recorder.Reports()[1].caption,
              "Can not build covariance matrix 0 observations loaded *(min = 2)");
    EXPECT_FALSE(none.IsBuilt());
}

TEST(KV_CovarianceDeathTest, ZeroLengthObservationIsFatal)
{
    EXPECT_EXIT(
        {
            KV_Covariance c;
            c.AddObservation(KV_Vector());
        },
        ::testing::ExitedWithCode(1), "Covarience Error: Zero length observation vector");
}

TEST(KV_CovarianceDeathTest, MismatchedObservationIsFatal)
{
    EXPECT_EXIT(
        {
            KV_Covariance c;
            c.AddObservation(KV_Vector3D(1, 2, 3));
            c.AddObservation(Observation({1, 2}));
        },
        ::testing::ExitedWithCode(1), "Covarience Error: Incorrect observation vector");
}
