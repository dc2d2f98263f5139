#pragma once

// Runs the register-blocked tile kernel tiles times on operands that stay in the first-level
// cache, and returns the floating-point operations it did (a multiply and an add per product
// term). Timed by the caller, this is the rate at which this core carries out the product's
// separate multiplies and adds: the bound on the trailing pass once memory is out of the way.
double runTileKernelInCache(int tiles);
