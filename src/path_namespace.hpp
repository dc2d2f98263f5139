#pragma once

// Code compiled once per vector path (src/kernels/, the vector layer, the steps of the block
// loop, the solves, the peak's chains) lives in a namespace of its own path, lubench::<path>,
// named by the build for each of the path's translation units. Every inline function and
// template of that code then has a name of its own in each path, so the linker can never give
// one path the copy another path compiled for a wider instruction set.
#ifndef LUBENCH_PATH_NAMESPACE
#error "This file is part of a vector path: the build compiles it once per path with LUBENCH_PATH_NAMESPACE set"
#endif
