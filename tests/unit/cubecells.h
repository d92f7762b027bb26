// The cube's cells as a map from coordinate to values, and cells stored from lists, for
// tests that state cubes as tables.
#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "varkel/cube.h"

typedef std::map<mbitset<128>, std::vector<double>> CellMap;

inline CellMap cellMap(const DataNodes& cells = dataNodes) {
  CellMap map;
  for (size_t i = 0; i < cells.size(); i++)
    map[cells.key(i)] = std::vector<double>(cells.values(i), cells.values(i) + cells.width());
  return map;
}

// Stores values into key's cell, widening every cell to their count where that is more.
inline void putCell(const mbitset<128>& key, const std::vector<double>& values,
                    DataNodes& cells = dataNodes) {
  cells.widen(int(values.size()));
  std::copy(values.begin(), values.end(), cells.insert(key));
}

inline DataNodes cubeOf(const CellMap& map) {
  DataNodes cells;
  for (const auto& cell : map) putCell(cell.first, cell.second, cells);
  return cells;
}
