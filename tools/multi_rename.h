// multi_rename.h - renaming many entries at once by a mask.
//
// A new name is built in three steps, each on the result of the one before:
//   1. the masks: the name mask gives the part before the extension, the
//      extension mask the part after the dot (no dot when it comes out
//      empty). Placeholders:
//        [N]  the old name without its extension      [E]  the old extension
//        [N2-5] characters 2 to 5 (counted from 1), [N3] the third,
//        [N2-] from the second on, [N2,3] three from the second; negative
//        positions count from the end ([N-3-] the last three, [N1--2] all
//        but the last). The same ranges work for [E] and [P].
//        [P]  the name of the directory the entry is in
//        [C]  a counter (start, step and width from the rules, or in place:
//             [C10] starts at 10, [C10+5] steps by 5, [C+-1] counts down,
//             [C:3] is three digits wide, [C10+5:3] all of them)
//        [Y] [M] [D] [h] [m] [s]  the entry's modification time (local)
//        [[   a "[" (any other "[" starts a placeholder)
//   2. search and replace over the whole new name: plain text (every
//      occurrence) or a regular expression ($1 or \1 for a group);
//   3. a change of case (unicode.h).
// An extension is the text after the last dot, unless that dot starts or
// ends the name (".profile" and "notes." have none).
//
// Nothing is renamed when anything is wrong: the plan marks every row whose
// new name is invalid, collides with another row's or with an entry that
// already exists (other than one of the renamed entries themselves), and
// Apply refuses such a plan before touching the first entry. Apply renames
// in two phases through temporary names, so that swaps and chains (a to b,
// b to c) work, and puts everything back when a step fails. A batch that
// worked is written to a log from which it can be undone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "tools/unicode.h"

namespace vantrel::tools {

struct TRenameRules {
  std::string nameMask = "[N]";
  std::string extMask = "[E]";
  int64_t counterStart = 1;
  int64_t counterStep = 1;
  int counterWidth = 1;
  std::string search;
  std::string replace;
  bool regex = false;
  TCaseChange caseChange = TCaseChange::None;
};

// An entry to rename: its path relative to the directory of the batch (a
// bare name, or "sub/name" for entries of a search result listing).
struct TRenameSource {
  std::string name;
  platform::FileTime writeTime = 0;
};

class TRenamer {
 public:
  TRenamer();
  ~TRenamer();
  TRenamer(const TRenamer&) = delete;
  TRenamer& operator=(const TRenamer&) = delete;

  // Parses the masks and the expression; false with a message naming the
  // first problem ("Unknown placeholder [X]").
  bool Compile(const TRenameRules& rules, std::string* error);
  // The new bare name of `source`, the `index`-th entry of the batch, in
  // the directory named `parentName`.
  std::string NewName(const TRenameSource& source, size_t index, const std::string& parentName) const;

  // One piece of a parsed mask: literal text or a placeholder.
  struct TToken;

 private:
  struct TRegex;
  std::string Expand(const std::vector<TToken>& tokens, const TRenameSource& source, size_t index,
                     const std::string& parentName, const std::string& base, const std::string& ext) const;

  TRenameRules rules_;
  std::vector<TToken> name_;
  std::vector<TToken> ext_;
  std::unique_ptr<TRegex> regex_;
  bool compiled_ = false;
};

// The old name's parts: "archive.tar.gz" is "archive.tar" and "gz".
void SplitExtension(const std::string& name, std::string& base, std::string& ext);

enum class TRenameState : uint8_t {
  Unchanged,  // the new name is the old one
  Ok,
  Invalid,    // empty, "." or "..", holds "/" or a NUL byte, or is too long
  Collides,   // another row gets the same new name
  Exists,     // an entry of that name exists and is not renamed away
};

struct TRenameRow {
  std::string oldName;  // relative path, as given
  std::string newName;  // relative path: the old one's directory part and the new name
  TRenameState state = TRenameState::Unchanged;
  int other = -1;       // the row it collides with
};

struct TRenamePlan {
  std::vector<TRenameRow> rows;
  int changes = 0;   // rows that rename something
  int problems = 0;  // rows in Invalid, Collides or Exists
};

// The new names of `sources` in directory `dir`, with every row's problem.
// `dir` is examined for existing entries of the new names.
TRenamePlan PlanRenames(const std::string& dir, const std::vector<TRenameSource>& sources,
                        const TRenamer& renamer);

using TRenamePairs = std::vector<std::pair<std::string, std::string>>;  // old, new

struct TRenameResult {
  bool ok = false;
  std::string error;   // why nothing (or everything put back) was renamed
  int renamed = 0;
};

// One rename step (platform::RenameNoReplace unless a test replaces it):
// returns 0 or an errno value.
using TRenameStep = std::function<int(const std::string& from, const std::string& to)>;

// Renames each pair's old path to its new one in `dir`, all or nothing:
// refused before any change when two new names collide, a new name exists
// and is not one of the old ones, or an old one is missing; on a failing
// step everything done so far is put back.
TRenameResult ApplyRenames(const std::string& dir, const TRenamePairs& pairs, const TRenameStep& step = {});

// The log of the last batch: written after a batch succeeded, read by undo.
bool WriteRenameLog(const std::string& logPath, const std::string& dir, const TRenamePairs& pairs,
                    std::string* error);
bool ReadRenameLog(const std::string& logPath, std::string& dir, TRenamePairs& pairs,
                   std::string* error);
// Renames the logged batch back (with the same refusals as ApplyRenames) and
// removes the log when that worked.
TRenameResult UndoRenames(const std::string& logPath);

}  // namespace vantrel::tools
