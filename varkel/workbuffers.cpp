// The name and work buffers, made at start-up.
#include "varkel/workbuffers.h"

#include <cstdlib>
#include <cstring>

#include "varkel/input.h"

char* inputFileName = nullptr;
char* outputFileName = nullptr;
char cb4FileName[tempNameSize];
char* profileDirectory = nullptr;
char* newDataFileName = nullptr;
char* wholeProfileName = nullptr;

char* lumetraWidth = nullptr;
char* lumetraHeight = nullptr;
char* codebase = nullptr;
char* theCodeBase = nullptr;
char* partPattern = nullptr;

// patternBuffer, leadPattern, trailPattern, tempPattern and tempLeadPattern: made only
// because start-up names them, in its order of failures; nothing reads them.
static char* unreadBuffers[5];

// A zero-filled work buffer; lack of memory ends the run with the buffer's own message.
static char* workBuffer(size_t bytes, const char* failure) {
  char* p = static_cast<char*>(calloc(bytes, 1));
  if (!p) fatal(100, "%s", failure);
  return p;
}

void makeWorkBuffers() {
  inputBuffer = workBuffer(inputBufferSize, "Failed inputBuffer malloc.\n");
  profileDirectory = workBuffer(nameBufferSize, "Failed profileDirectory malloc.\n");
  wholeProfileName = workBuffer(nameBufferSize, "Failed wholeProfileName malloc.\n");
  lumetraWidth = workBuffer(nameBufferSize, "Failed lumetraWidth malloc.\n");
  lumetraHeight = workBuffer(nameBufferSize, "Failed lumetraHeight malloc.\n");
  partPattern = workBuffer(partPatternSize, "Failed partPattern malloc.\n");
  unreadBuffers[0] = workBuffer(partPatternSize, "Failed patternBuffer malloc.\n");
  unreadBuffers[1] = workBuffer(partPatternSize, "Failed leadPattern malloc.\n");
  unreadBuffers[2] = workBuffer(partPatternSize, "Failed trailPattern malloc.\n");
  unreadBuffers[3] = workBuffer(nameBufferSize, "Failed tempPattern malloc.\n");
  unreadBuffers[4] = workBuffer(partPatternSize, "Failed tempLeadPattern malloc.\n");
  codebase = workBuffer(nameBufferSize, "Failed codebase malloc.\n");
  theCodeBase = workBuffer(nameBufferSize, "Failed theCodeBase malloc.\n");
  inputFileName = workBuffer(nameBufferSize, "Failed inputFileName malloc.\n");
  outputFileName = workBuffer(nameBufferSize, "Failed outputFileName malloc.\n");
  newDataFileName = workBuffer(nameBufferSize, "Failed newDataFileName malloc.\n");
}

const char* setPartPattern(const char* text, size_t n) {
  if (n > size_t(partPatternSize - 1)) n = partPatternSize - 1;
  if (n) memcpy(partPattern, text, n);
  partPattern[n] = '\0';
  return partPattern;
}
