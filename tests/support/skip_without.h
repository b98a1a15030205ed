// Skips the rest of a test where the platform lacks what it needs, saying why in the test's
// output: QM_SKIP_WITHOUT(SymbolicLinks);
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "support/posix_features.h"

#define QM_SKIP_WITHOUT(feature)                                       \
    if (std::string_view const qmWhyMissing =                          \
            ::qm::test::WhyMissing(::qm::test::PosixFeature::feature); \
        !qmWhyMissing.empty())                                         \
    GTEST_SKIP() << qmWhyMissing
