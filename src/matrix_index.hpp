#pragma once

#include <cstddef>

// Position of entry (row, col) in a row-major matrix of order n. The product is formed in
// std::size_t, so it cannot overflow for any matrix that fits in memory. row, col, n >= 0.
inline std::size_t at(int row, int col, int n) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(n) +
         static_cast<std::size_t>(col);
}
