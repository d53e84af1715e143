#include "kestrasim/simulator.h"
#include "replyrules.h"

#include <gtest/gtest.h>

TEST(Simulator, Placeholder) { }
