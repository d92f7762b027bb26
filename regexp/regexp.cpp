// The regular-expression engine: a recursive-descent compiler that turns a pattern into a
// program of small nodes, and a depth-first backtracking matcher that runs that program
// against a text. Alternation is leftmost-first and every repetition is greedy; there are no
// intervals, classes or back-references. All comparisons are on bytes.
//
// Program layout: the magic byte, then nodes. A node is an opcode byte, a two-byte offset to
// the next node (high byte first; forwards, or backwards for BACK; 0 for none) and, for
// ANY_OF, ANY_BUT and EXACTLY, a NUL-terminated operand. The operand of BRANCH, STAR and
// PLUS is the node that follows it in memory.
#include "regexp/regexp.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rx {

namespace {

enum Opcode : unsigned char {
  END = 0,
  TEXT_START = 1,
  TEXT_END = 2,
  ANY_CHAR = 3,
  ANY_OF = 4,
  ANY_BUT = 5,
  BRANCH = 6,
  BACK = 7,
  EXACTLY = 8,
  NOTHING = 9,
  STAR = 10,
  PLUS = 11,
  OPEN = 20,   // OPEN + n starts group n (1-9)
  CLOSE = 30,  // CLOSE + n ends group n
};

const unsigned char MAGIC = 0234;
const long PROGRAM_LIMIT = 32767;  // programs this large or larger are refused
const int NODE_SIZE = 3;
const int MAX_GROUPS = NSUBEXP - 1;

// Flags the parser hands upwards about what it just parsed.
const int HAS_WIDTH = 1;       // can never match the empty string
const int SIMPLE = 2;          // matches exactly one character
const int STARTS_STARRED = 4;  // begins with a piece under "*" or "?"

const char META[] = "^$.[()|?+*\\";

// Compiler state: one compile at a time.
const char* parsePos;  // next pattern byte
int groupCount;        // groups opened so far
unsigned char* code;   // program being written; null during the measuring pass
long codeSize;         // bytes measured (first pass) or written (second pass)
long codeCapacity;     // bytes available in code (second pass)

// Matcher state: one match at a time.
const unsigned char* matchCode;  // program being run
const char* textPos;             // current position in the text
const char* textStart;           // start of the text, for "^"
const char** groupStarts;        // the program's groupStart array
const char** groupEnds;          // the program's groupEnd array
int programLength;               // bytes of the program being run

// The rest of the program from a node at a text position either matches or not, whatever
// led there; so a pair that failed once is never run again. This keeps alternations inside
// repetitions, such as (a|a)*b, from taking exponential time without changing any result.
// One bit per (program byte, text position); empty when the text is too long to track.
std::vector<unsigned char> failedPairs;
size_t failedStride;  // text length + 1
const size_t maxFailedBits = size_t(1) << 26;

bool isRepeatOperator(char c) { return c == '*' || c == '+' || c == '?'; }

// Reports a compile error and gives the parser's failure value.
int compileError(const char* message) {
  regerror(message);
  return -1;
}

void grow(long n) {
  codeSize += n;
  // While measuring, stop counting once the limit is passed so huge patterns cannot overflow.
  if (!code && codeSize > PROGRAM_LIMIT) codeSize = PROGRAM_LIMIT;
}

void emitByte(unsigned char b) {
  if (code) {
    assert(codeSize < codeCapacity);
    code[codeSize] = b;
  }
  grow(1);
}

// Appends a node with no next node; returns its position.
int emitNode(unsigned char op) {
  int at = static_cast<int>(codeSize);
  if (code) {
    assert(codeSize + NODE_SIZE <= codeCapacity);
    code[at] = op;
    code[at + 1] = 0;
    code[at + 2] = 0;
  }
  grow(NODE_SIZE);
  return at;
}

// Puts a new node in front of the operand that starts at `at`, moving the operand up.
void insertNode(unsigned char op, int at) {
  if (!code) {
    grow(NODE_SIZE);
    return;
  }
  assert(codeSize + NODE_SIZE <= codeCapacity);
  memmove(code + at + NODE_SIZE, code + at, codeSize - at);
  code[at] = op;
  code[at + 1] = 0;
  code[at + 2] = 0;
  codeSize += NODE_SIZE;
}

// The node after p, or -1. Reads the program being compiled or run.
int nextNode(const unsigned char* prog, int p) {
  int offset = (prog[p + 1] << 8) | prog[p + 2];
  if (offset == 0) return -1;
  return prog[p] == BACK ? p - offset : p + offset;
}

// Sets the next offset of the last node of the chain that starts at p to target.
void linkTail(int p, int target) {
  if (!code) return;
  for (int n = nextNode(code, p); n >= 0; n = nextNode(code, p)) p = n;
  int offset = code[p] == BACK ? p - target : target - p;
  assert(offset > 0 && offset < PROGRAM_LIMIT);
  code[p + 1] = static_cast<unsigned char>(offset >> 8);
  code[p + 2] = static_cast<unsigned char>(offset & 0xFF);
}

// For a BRANCH at p, links the end of its operand's chain to target; other nodes are left.
void linkOperandTail(int p, int target) {
  if (!code || code[p] != BRANCH) return;
  linkTail(p + NODE_SIZE, target);
}

int parsePattern(bool inGroup, int* flags);

// A bracket expression; parsePos is just past the "[".
int parseBracket(int* flags) {
  bool negate = *parsePos == '^';
  if (negate) parsePos++;
  int node = emitNode(negate ? ANY_BUT : ANY_OF);
  if (*parsePos == ']' || *parsePos == '-') emitByte(static_cast<unsigned char>(*parsePos++));
  while (*parsePos != '\0' && *parsePos != ']') {
    if (*parsePos != '-') {
      emitByte(static_cast<unsigned char>(*parsePos++));
      continue;
    }
    parsePos++;
    if (*parsePos == ']' || *parsePos == '\0') {
      emitByte('-');
      continue;
    }
    // The byte before the "-" is already a member; add the rest of the range.
    int from = static_cast<unsigned char>(parsePos[-2]);
    int to = static_cast<unsigned char>(*parsePos);
    if (from > to + 1) return compileError("invalid [] range");
    for (int b = from + 1; b <= to; b++) emitByte(static_cast<unsigned char>(b));
    parsePos++;
  }
  emitByte(0);
  if (*parsePos != ']') return compileError("unmatched []");
  parsePos++;
  *flags = HAS_WIDTH | SIMPLE;
  return node;
}

int parseAtom(int* flags) {
  *flags = 0;
  char c = *parsePos;
  switch (c) {
    case '\0':
    case '|':
    case ')':
      return compileError("internal urp");
    case '?':
    case '+':
    case '*':
      return compileError("?+* follows nothing");
    default:
      break;
  }
  parsePos++;
  switch (c) {
    case '^':
      return emitNode(TEXT_START);
    case '$':
      return emitNode(TEXT_END);
    case '.':
      *flags = HAS_WIDTH | SIMPLE;
      return emitNode(ANY_CHAR);
    case '[':
      return parseBracket(flags);
    case '(': {
      int groupFlags;
      int node = parsePattern(true, &groupFlags);
      if (node < 0) return -1;
      *flags = groupFlags & HAS_WIDTH;
      return node;
    }
    case '\\': {
      if (*parsePos == '\0') return compileError("trailing \\");
      int node = emitNode(EXACTLY);
      emitByte(static_cast<unsigned char>(*parsePos++));
      emitByte(0);
      *flags = HAS_WIDTH | SIMPLE;
      return node;
    }
    default: {
      const char* run = parsePos - 1;
      size_t length = strcspn(run, META);
      // An operator after the run applies to its last character only.
      if (length > 1 && isRepeatOperator(run[length])) length--;
      int node = emitNode(EXACTLY);
      for (size_t i = 0; i < length; i++) emitByte(static_cast<unsigned char>(run[i]));
      emitByte(0);
      parsePos = run + length;
      *flags = length == 1 ? HAS_WIDTH | SIMPLE : HAS_WIDTH;
      return node;
    }
  }
}

// An atom and its optional "*", "+" or "?".
int parsePiece(int* flags) {
  int atomFlags;
  int atom = parseAtom(&atomFlags);
  if (atom < 0) return -1;
  char op = *parsePos;
  if (!isRepeatOperator(op)) {
    *flags = atomFlags;
    return atom;
  }
  if (!(atomFlags & HAS_WIDTH) && op != '?') return compileError("*+ operand could be empty");
  *flags = op == '+' ? HAS_WIDTH : STARTS_STARRED;
  bool simple = (atomFlags & SIMPLE) != 0;
  if (op == '*' && simple) {
    insertNode(STAR, atom);
  } else if (op == '*') {
    // BRANCH(atom, BACK to this BRANCH) BRANCH(NOTHING)
    insertNode(BRANCH, atom);
    linkOperandTail(atom, emitNode(BACK));
    linkOperandTail(atom, atom);
    linkTail(atom, emitNode(BRANCH));
    linkTail(atom, emitNode(NOTHING));
  } else if (op == '+' && simple) {
    insertNode(PLUS, atom);
  } else if (op == '+') {
    // atom BRANCH(BACK to atom) BRANCH(NOTHING)
    int loop = emitNode(BRANCH);
    linkTail(atom, loop);
    linkTail(emitNode(BACK), atom);
    linkTail(loop, emitNode(BRANCH));
    linkTail(atom, emitNode(NOTHING));
  } else {
    // BRANCH(atom) BRANCH(NOTHING), both ways meeting at the NOTHING
    insertNode(BRANCH, atom);
    linkTail(atom, emitNode(BRANCH));
    int way = emitNode(NOTHING);
    linkTail(atom, way);
    linkOperandTail(atom, way);
  }
  parsePos++;
  if (isRepeatOperator(*parsePos)) return compileError("nested *?+");
  return atom;
}

// One alternative: a BRANCH node followed by its pieces (or a NOTHING when there are none).
int parseBranch(int* flags) {
  *flags = 0;
  int branch = emitNode(BRANCH);
  int previous = -1;
  while (*parsePos != '\0' && *parsePos != '|' && *parsePos != ')') {
    int pieceFlags;
    int piece = parsePiece(&pieceFlags);
    if (piece < 0) return -1;
    *flags |= pieceFlags & HAS_WIDTH;
    if (previous < 0)
      *flags |= pieceFlags & STARTS_STARRED;
    else
      linkTail(previous, piece);
    previous = piece;
  }
  if (previous < 0) emitNode(NOTHING);
  return branch;
}

// The whole pattern, or a group whose "(" has been read.
int parsePattern(bool inGroup, int* flags) {
  *flags = HAS_WIDTH;
  int group = 0;
  int open = -1;
  if (inGroup) {
    if (groupCount >= MAX_GROUPS) return compileError("too many ()");
    group = ++groupCount;
    open = emitNode(static_cast<unsigned char>(OPEN + group));
  }
  int start = open;
  for (;;) {
    int branchFlags;
    int branch = parseBranch(&branchFlags);
    if (branch < 0) return -1;
    if (start < 0)
      start = branch;
    else
      linkTail(start, branch);
    if (!(branchFlags & HAS_WIDTH)) *flags &= ~HAS_WIDTH;
    *flags |= branchFlags & STARTS_STARRED;
    if (*parsePos != '|') break;
    parsePos++;
  }

  int closer = emitNode(static_cast<unsigned char>(inGroup ? CLOSE + group : END));
  linkTail(start, closer);
  if (code) {
    for (int p = start; p >= 0; p = nextNode(code, p)) linkOperandTail(p, closer);
  }
  if (inGroup) {
    if (*parsePos != ')') return compileError("unmatched ()");
    parsePos++;
  } else if (*parsePos == ')') {
    return compileError("unmatched ()");
  } else if (*parsePos != '\0') {
    return compileError("junk on end");
  }
  return start;
}

// One parser pass over pattern; code null only measures.
bool compilePass(const char* pattern, unsigned char* out, long capacity, int* flags) {
  parsePos = pattern;
  groupCount = 0;
  code = out;
  codeSize = 0;
  codeCapacity = capacity;
  emitByte(MAGIC);
  return parsePattern(false, flags) >= 0;
}

int countRepeat(int node) {
  const char* p = textPos;
  const char* operand = reinterpret_cast<const char*>(matchCode + node + NODE_SIZE);
  switch (matchCode[node]) {
    case ANY_CHAR:
      p += strlen(p);
      break;
    case EXACTLY:
      while (*p != '\0' && *p == *operand) p++;
      break;
    case ANY_OF:
      while (*p != '\0' && strchr(operand, *p)) p++;
      break;
    case ANY_BUT:
      while (*p != '\0' && !strchr(operand, *p)) p++;
      break;
    default:
      regerror("internal foulup");
      return -1;
  }
  int count = static_cast<int>(p - textPos);
  textPos = p;
  return count;
}

int runFrom(int scan);

// Runs the program from node scan at textPos; 1 when the rest of the program matches.
int runSteps(int scan) {
  while (scan >= 0) {
    unsigned char op = matchCode[scan];
    int next = nextNode(matchCode, scan);
    const char* operand = reinterpret_cast<const char*>(matchCode + scan + NODE_SIZE);
    switch (op) {
      case END:
        return 1;
      case TEXT_START:
        if (textPos != textStart) return 0;
        break;
      case TEXT_END:
        if (*textPos != '\0') return 0;
        break;
      case ANY_CHAR:
        if (*textPos == '\0') return 0;
        textPos++;
        break;
      case ANY_OF:
        if (*textPos == '\0' || !strchr(operand, *textPos)) return 0;
        textPos++;
        break;
      case ANY_BUT:
        if (*textPos == '\0' || strchr(operand, *textPos)) return 0;
        textPos++;
        break;
      case EXACTLY: {
        if (*operand != *textPos) return 0;
        size_t length = strlen(operand);
        if (length > 1 && strncmp(operand, textPos, length) != 0) return 0;
        textPos += length;
        break;
      }
      case NOTHING:
      case BACK:
        break;
      case BRANCH: {
        if (next < 0 || matchCode[next] != BRANCH) {
          next = scan + NODE_SIZE;  // a lone alternative is simply followed
          break;
        }
        const char* save = textPos;
        for (int alt = scan; alt >= 0 && matchCode[alt] == BRANCH; alt = nextNode(matchCode, alt)) {
          if (runFrom(alt + NODE_SIZE)) return 1;
          textPos = save;
        }
        return 0;
      }
      case STAR:
      case PLUS: {
        if (next < 0) break;  // reported below as corrupted pointers
        // Only counts after which the following literal can start are worth trying.
        char wanted = matchCode[next] == EXACTLY
                          ? static_cast<char>(matchCode[next + NODE_SIZE])
                          : '\0';
        int least = op == STAR ? 0 : 1;
        const char* save = textPos;
        int count = countRepeat(scan + NODE_SIZE);
        if (count < 0) return 0;
        while (count >= least) {
          if (wanted == '\0' || *textPos == wanted) {
            if (runFrom(next)) return 1;
          }
          count--;
          textPos = save + count;
        }
        return 0;
      }
      default: {
        if (op > OPEN && op <= OPEN + MAX_GROUPS) {
          int n = op - OPEN;
          const char* save = textPos;
          if (!runFrom(next)) return 0;
          // A later pass through the same group has the final say.
          if (!groupStarts[n]) groupStarts[n] = save;
          return 1;
        }
        if (op > CLOSE && op <= CLOSE + MAX_GROUPS) {
          int n = op - CLOSE;
          const char* save = textPos;
          if (!runFrom(next)) return 0;
          if (!groupEnds[n]) groupEnds[n] = save;
          return 1;
        }
        regerror("memory corruption");
        return 0;
      }
    }
    scan = next;
  }
  regerror("corrupted pointers");
  return 0;
}

int runFrom(int scan) {
  if (scan >= programLength) {
    regerror("corrupted pointers");
    return 0;
  }
  if (failedPairs.empty()) return runSteps(scan);
  size_t bit = size_t(scan) * failedStride + size_t(textPos - textStart);
  unsigned char mask = static_cast<unsigned char>(1u << (bit & 7));
  if (failedPairs[bit >> 3] & mask) return 0;
  if (runSteps(scan)) return 1;
  failedPairs[bit >> 3] |= mask;
  return 0;
}

// Tries the program with the match starting at start.
int tryAt(regexp* prog, const char* start) {
  textPos = start;
  for (int i = 0; i < NSUBEXP; i++) {
    prog->groupStart[i] = nullptr;
    prog->groupEnd[i] = nullptr;
  }
  if (!runFrom(1)) return 0;
  prog->groupStart[0] = start;
  prog->groupEnd[0] = textPos;
  return 1;
}

}  // namespace

void regerror(const char* message) { fprintf(stderr, "regexp(3): %s\n", message); }

regexp* regcomp(const char* pattern) {
  if (!pattern) {
    regerror("NULL argument");
    return nullptr;
  }
  int flags;
  if (!compilePass(pattern, nullptr, 0, &flags)) return nullptr;
  if (codeSize >= PROGRAM_LIMIT) {
    regerror("regexp too big");
    return nullptr;
  }
  long size = codeSize;
  regexp* r = static_cast<regexp*>(malloc(sizeof(regexp) + size));
  if (!r) {
    regerror("out of space");
    return nullptr;
  }
  r->program = reinterpret_cast<unsigned char*>(r + 1);
  r->programLength = static_cast<int>(size);
  if (!compilePass(pattern, r->program, size, &flags)) {
    code = nullptr;
    free(r);
    return nullptr;
  }
  assert(codeSize == size);
  code = nullptr;

  for (int i = 0; i < NSUBEXP; i++) {
    r->groupStart[i] = nullptr;
    r->groupEnd[i] = nullptr;
  }
  r->firstChar = '\0';
  r->anchored = 0;
  r->mustContain = nullptr;
  r->mustContainLength = 0;

  const unsigned char* prog = r->program;
  int first = 1;  // the first BRANCH of the top level
  if (prog[nextNode(prog, first)] == END) {
    int scan = first + NODE_SIZE;  // the only branch's first node
    if (prog[scan] == EXACTLY)
      r->firstChar = static_cast<char>(prog[scan + NODE_SIZE]);
    else if (prog[scan] == TEXT_START)
      r->anchored = 1;
    if (flags & STARTS_STARRED) {
      // Every EXACTLY on the branch's own chain must appear in a match.
      const char* longest = nullptr;
      size_t longestLength = 0;
      for (int p = scan; p >= 0; p = nextNode(prog, p)) {
        if (prog[p] != EXACTLY) continue;
        const char* s = reinterpret_cast<const char*>(prog + p + NODE_SIZE);
        if (strlen(s) >= longestLength) {
          longest = s;
          longestLength = strlen(s);
        }
      }
      r->mustContain = longest;
      r->mustContainLength = static_cast<int>(longestLength);
    }
  }
  return r;
}

int regexec(regexp* prog, const char* text) {
  if (!prog || !text) {
    regerror("NULL parameter");
    return 0;
  }
  if (prog->program[0] != MAGIC) {
    regerror("corrupted program");
    return 0;
  }
  if (prog->mustContain && !strstr(text, prog->mustContain)) return 0;

  matchCode = prog->program;
  textStart = text;
  groupStarts = prog->groupStart;
  groupEnds = prog->groupEnd;
  programLength = prog->programLength;
  failedStride = strlen(text) + 1;
  size_t bits = size_t(prog->programLength) * failedStride;
  if (bits <= maxFailedBits)
    failedPairs.assign((bits + 7) / 8, 0);
  else
    failedPairs.clear();
  if (prog->anchored) return tryAt(prog, text);
  if (prog->firstChar != '\0') {
    for (const char* s = strchr(text, prog->firstChar); s; s = strchr(s + 1, prog->firstChar))
      if (tryAt(prog, s)) return 1;
    return 0;
  }
  for (const char* s = text;; s++) {
    if (tryAt(prog, s)) return 1;
    if (*s == '\0') return 0;
  }
}

}  // namespace rx
