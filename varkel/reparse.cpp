// The cube re-reader. An incremental build does not read the old records again: it reads
// the cube it wrote last time. The compact axis trees are rebuilt inside the current
// profile's trees and registered in the category indexes and date tables, so that the
// expansion pass finds the old categories instead of making them again; the coordinates
// and values of the old cells are kept until the new layout is fixed, then stored in the
// cube under their new coordinates.
#include "varkel/reparse.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "common/util.h"
#include "varkel/axislabel.h"
#include "varkel/cube.h"
#include "varkel/datasource.h"
#include "varkel/options.h"
#include "varkel/pipeline.h"
#include "varkel/report.h"
#include "varkel/shape.h"

namespace {

// Per profile axis (in profile order): the root the axis had when the cube was read.
std::vector<int> profileRoots;
bool measuresRead = false; // the measures tree was read
bool cellMajorRead = false; // a cell-major value setting (ncodeddata) was read
std::string namedCubeFile; // the cube file a page names (its cb4file setting)

// The cube holds every part the writer always writes: a tree for each axis that can have
// leaves, the measures tree, the coordinates and the values, which come last. A cube cut
// short, or missing a part, would otherwise extend into a cube without its old cells.
void requireWholeCube(int cubeSettings) {
  if (cubeSettings == 0)
    fatal(110, "Cube '%s' is damaged or cut short: it holds no cube data%s; it cannot be "
          "extended.\n", cubeName.c_str(), readingCubeFile ? "" : " and names no cube file");
  const char* missing = nullptr;
  std::string axisName;
  for (int a = restoredAxes; a < numberOfAxes && !missing; a++) {
    int root = axisRootIndex[a];
    if (root == -1) continue;
    const AxisLabel& r = axisLabels[root];
    if (r.child != -1 || r.dateIndex != 0 || r.field != -1) {
      axisName = r.label;
      missing = "tree";
    }
  }
  if (!missing && !measuresRead) missing = "lumetrarecord0";
  if (!missing && !coordsRead) missing = "codedcoords";
  if (!missing && !valuesRead && !cellMajorRead) missing = "codeddata";
  if (!missing) return;
  if (!axisName.empty())
    fatal(110, "Cube '%s' is damaged or cut short: it has no tree for axis \"%s\"; it cannot "
          "be extended.\n", cubeName.c_str(), axisName.c_str());
  fatal(110, "Cube '%s' is damaged or cut short: it has no %s setting; it cannot be "
        "extended.\n", cubeName.c_str(), missing);
}

}  // namespace

void resetReparse() {
  resetCubeFile();
  resetTreeRestore();
  resetCellRestore();
  profileRoots.clear();
  measuresRead = cellMajorRead = false;
  namedCubeFile.clear();
}

int readPreviousCube(const char* profileName) {
  resetReparse();
  // Nothing of an earlier run's cube may leak into this one's trees or cells.
  assert(cubeName.empty() && cubeLineNumber == 0 && restoredAxes == 0 && oldCellCount == 0);
  assert(oldCoords.empty() && dataValue.empty() && oldColumnOfSlot.empty());
  assert(!coordsRead && !valuesRead && !measuresRead && !cellMajorRead && oldBits.empty());
  // Measures are counted as the cube pass counts them: a profile with only computed
  // measures, or none, still stores one value per cell.
  recordSize = getRecordRange(recordAxisRoot);
  if (recordSize == 0) recordSize = 1;
  profileRoots.assign(axisRootIndex, axisRootIndex + numberOfAxes);
  oldBits.assign(numberOfAxes, 0);
  FILE* cube = openCube(profileName);
  int cubeSettings = 0;
  for (;;) {
    ParamLine* line = readParamLine(cube);
    if (!line) {
      if (feof(cube) || ferror(cube)) break;
      continue;
    }
    if (startsWith(line->name, "lumetraaxis")) {
      restoreAxis(*line);
      cubeSettings++;
    } else if (startsWith(line->name, "codedcoords")) {
      restoreCoords(*line);
      cubeSettings++;
    } else if (startsWith(line->name, "codeddata")) {
      restoreCodedData(*line);
      cubeSettings++;
    } else if (startsWith(line->name, "lumetrarecord")) {
      measuresRead = true;
      cubeSettings++;
    } else if (startsWith(line->name, "ncodeddata")) {
      cellMajorRead = true;
      cubeSettings++;
    } else if (line->name == "codingchars") {
      restoreCodingChars(*line);
    } else if (line->name == "cb4file") {
      namedCubeFile = line->value;
    }
    delete line;
  }
  fclose(cube);
  // Values read before the coordinates announced their cells fill none of them; a cube with
  // no value setting at all is one cut short (reparse).
  if (coordsRead && oldCellCount > 0 && (valuesRead || cellMajorRead) &&
      (!valuesRead || dataValue.size() != size_t(oldCellCount) * size_t(recordSize)))
    fatal(110, "Cube '%s' has coordinates but no codeddata values.\n", cubeName.c_str());
  return cubeSettings;
}

int reparse(const char* profileName) {
  int cubeSettings = readPreviousCube(profileName);
  // Only a page that points to a cube file may hold no cube: that is the cube file's page
  // once the file is gone.
  if (readingCubeFile || cubeSettings > 0 || namedCubeFile.empty())
    requireWholeCube(cubeSettings);
  if (!readingCubeFile && cubeSettings == 0)
    msg("Cube '%s' holds no cube data%s%s%s; the build starts afresh.\n", cubeName.c_str(),
        namedCubeFile.empty() ? "" : " and its cube file '", namedCubeFile.c_str(),
        namedCubeFile.empty() ? "" : "' is missing");
  return 0;
}

void restoreData() {
  // The re-read labels test their fields where the new data's header puts them. A field
  // the header does not name is a column number, which must be the column the cube tested:
  // else the cube was built from data with that name, or in another layout.
  for (const auto& known : oldColumnOfSlot) {
    if (!fieldsMapped) break;
    int column = mapField(known.first);
    if (column == known.second) continue;
    const char* name = dataFieldNames[known.first];
    bool named = false;
    for (int c = 0; c < maxInputFields && skipFirstLine == 1 && !named; c++)
      named = strcmp(newDataFieldNames[c], name) == 0;
    if (!named)
      fatal(110, "Field '%s' is column %d of the new data but was column %d of the data cube "
            "'%s' was built from, and the new data names no column '%s'; the cube cannot be "
            "extended.\n", name, column, known.second, cubeName.c_str(), name);
  }
  // Each axis of the new layout, as a profile axis of the cells' leaf tables.
  std::vector<int> profileAxis(numberOfAxes, -1);
  for (int a = 0; a < numberOfAxes; a++)
    for (size_t k = 0; k < profileRoots.size(); k++)
      if (profileRoots[k] == axisRootIndex[a]) profileAxis[a] = (int)k;
  for (int a = 0; a < numberOfAxes && oldCellCount > 0; a++) {
    int k = profileAxis[a];
    if (k >= 0 && oldBits[k] != 0) continue;
    msg("Cube '%s' has no axis \"%s\"; its %d cells are dropped.\n", cubeName.c_str(),
        axisLabels[axisRootIndex[a]].label.c_str(), oldCellCount);
    return;
  }
  // Cells in the new layout may come in another order: placed first, sorted once, and the
  // last of those that meet in one coordinate holds it.
  std::vector<std::pair<mbitset<128>, size_t>> placedCells;
  for (int i = 0; i < oldCellCount && i < (int)oldCoords.size(); i++) {
    const OldCoord& cell = oldCoords[i];
    mbitset<128> key;
    bool placed = true;
    for (int a = 0; a < numberOfAxes && placed; a++) {
      int k = profileAxis[a];
      int label = k < 0 || k >= (int)cell.leafLabels.size() ? -1 : cell.leafLabels[k];
      auto leaf = label < 0 ? nodeToLeaf.end() : nodeToLeaf.find(label);
      if (leaf == nodeToLeaf.end()) {
        // A leaf lost while the coordinates were read has been reported then.
        if (label >= 0) reportLostCell(i, "its leaf is no leaf of the new tree", a);
        placed = false;
        break;
      }
      // The new leaf numbers of an axis fit the bits the new layout gives it.
      assert(axisBits[a] >= 31 || (leaf->second >= 0 && leaf->second < (1 << axisBits[a])));
      key = (key << axisBits[a]) | mbitset<128>(uint32_t(leaf->second));
    }
    if (!placed) continue;
    assert(cell.leafLabels.size() <= profileRoots.size());
    size_t from = size_t(i) * size_t(recordSize);
    if (from + recordSize > dataValue.size()) break;
    placedCells.emplace_back(key, from);
  }
  std::stable_sort(placedCells.begin(), placedCells.end(),
                   [](const std::pair<mbitset<128>, size_t>& a,
                      const std::pair<mbitset<128>, size_t>& b) { return a.first < b.first; });
  DataNodes restored;
  restored.widen(recordSize);
  restored.reserve(placedCells.size());
  for (size_t i = 0; i < placedCells.size(); i++) {
    if (i + 1 < placedCells.size() && placedCells[i + 1].first == placedCells[i].first) continue;
    restored.append(placedCells[i].first, &dataValue[placedCells[i].second]);
  }
  if (dataNodes.empty()) {
    std::swap(dataNodes, restored);
    return;
  }
  dataNodes.widen(recordSize);
  for (size_t i = 0; i < restored.size(); i++)
    std::copy_n(restored.values(i), recordSize, dataNodes.insert(restored.key(i)));
}
