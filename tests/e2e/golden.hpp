#pragma once
// Frames checked against golden pictures kept in the repository
// (tests/e2e/golden/NAME.png). With TARVEL_REBASELINE=1 in the environment the
// golden picture is written from the frame instead, and the check passes.
// On a mismatch the frame is written to the build's e2e-output folder as
// NAME.actual.png so that it can be looked at beside the golden one.

#include <gtest/gtest.h>

#include <string>

#include "png_image.hpp"

namespace tarvel::e2e {

bool rebaselining();

// Compares `frame` with golden/NAME.png pixel for pixel.
::testing::AssertionResult matches_golden(const std::string& name, const tarvel_run::Picture& frame);

// Reads a PNG the test itself made; fails the test on error.
tarvel_run::Picture load_picture(const std::string& path);

// Where the e2e tests leave their files (created on first use).
std::string output_dir();

// Describes the first difference between two pictures, or "" when equal.
std::string first_difference(const tarvel_run::Picture& a, const tarvel_run::Picture& b);

}  // namespace tarvel::e2e
