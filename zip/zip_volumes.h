// zip_volumes.h - writing an archive over several volumes.
//
// A multi-volume run of TZipWriter first writes the whole archive as one
// temporary file, exactly as a single-volume run does. WriteVolumes then
// copies it onto the volumes in one forward pass, so that nothing is ever
// patched on a volume that may already be out of the drive:
//
//   * a local header (with its name and extra field) never straddles two
//     volumes: when the room left is not larger than the header, the next
//     volume is started first;
//   * the entry's data follow in pieces of at most the room left, a new
//     volume after every piece that leaves bytes over and after a piece that
//     fills the volume exactly;
//   * each central record starts the next volume when it does not fit the
//     room left (the end record names the volume of the first one), and so
//     does the end record;
//   * the central records get the volume and offset of their local headers.
//
// mmBlocks volumes are numbered files beside the archive (.001, .002, ...);
// the last one takes the archive's own name. mmSpan volumes are files on
// removable media, one per medium, the next medium asked for when a volume is
// full. Every volume is written under a temporary name and takes its own name
// only when it is complete; block volumes all at the end. A failed or
// cancelled run removes every volume it made and leaves an older file of the
// archive's name as it was.
//
// Block volumes are written into a hidden directory beside the archive
// (".x.zip.vtmp-XXXXXX"), locked while the run lives. When all are complete,
// a journal there lists the renames that put the set in place (and the
// volumes of an older set they leave over), and the renames follow. A run
// that is killed leaves only that hidden directory: the next run on the set
// (FinishStoppedRuns) removes it, or, when its journal was written, finishes
// the renames. So the names of the set show either the old set or the new
// one, once the next run has been.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/zip_reader.h"

namespace vantrel::zip {

// Multi-volume settings of TZipWriter. Sizes are bytes; a volume holds at
// most 4 GiB - 1, so that every offset in it fits the classic fields.
struct TMultiZipInfo {
  int64_t BlockSize = 1457600;
  int64_t FirstBlockSize = 1457600;
  // mmSpan: bytes kept free on the first medium (besides the room the ".zfc"
  // file needs when SaveZipInfoOnFirstDisk is set). Never changed by a run.
  int64_t SaveOnFirstDisk = 0;
  // Also write the central directory as "NAME.zfc" beside the first volume
  // (mmSpan: on the first medium) when the archive takes several volumes.
  bool SaveZipInfoOnFirstDisk = false;
  TMultiMode MultiMode = TMultiMode::mmNone;
  // Volume labels cannot be read or written on Linux: these two change
  // nothing there and are kept for callers that set them.
  bool CheckDiskLabels = true;
  bool WriteDiskLabels = true;
};

inline constexpr int64_t kMaxVolumeSize = 0xFFFFFFFFLL;

// Texts of the ".zfc" failures, shown in a plain message box.
inline constexpr const char* kTextCantCreateZfc = "Unable to create Zip Configuration File to disk";
inline constexpr const char* kTextCantSaveZfc = "Unable to save Zip Configuration File to disk";

// The complete single-file archive a run wrote, to be copied onto volumes.
struct TVolumeSource {
  int fd = -1;
  // Local header offset of every entry, in the order of the central records
  // (ascending: entries are written in that order).
  std::vector<uint64_t> entryOffsets;
  uint64_t centralOffset = 0;
  uint64_t centralSize = 0;
  std::string comment;  // the archive comment
};

// What the writer answers for the volume pass.
struct TVolumeHooks {
  // mmSpan: the file for volume `disk` (counted from 1) once its medium is
  // in; `previous` is the file of the volume before. Empty: cancelled.
  std::function<std::string(int disk, const std::string& previous)> NextDisk;
  // Free bytes on the volume that holds the directory `dir`.
  std::function<int64_t(const std::string& dir)> FreeSpace;
  // After each piece copied: bytes of the archive copied so far (of
  // `total`). May throw to cancel the run.
  std::function<void(int64_t copied, int64_t total)> Progress;
  // A plain message box (the ".zfc" failures).
  std::function<void(const std::string& text)> Message;
  // After each block volume took its final name (1, 2, ...; the archive's
  // own name last).
  std::function<void(int placed)> Placed;
};

// Where the archive ended up.
struct TVolumeSet {
  std::vector<std::string> files;  // every volume, first to last, final names
  std::string configFile;          // the ".zfc" file written, or empty
  int thisDisk = 0;                // volume of the end record, from 0
  int centralDirDisk = 0;
  uint32_t centralDirOffset = 0;
  int entriesThisDisk = 0;
};

// Checks the settings before a run writes anything (EZipError when a size is
// out of range).
void CheckMultiZipInfo(const TMultiZipInfo& info);

// The name of block volume `disk` (from 1) of the archive `zipName`: its
// extension replaced by ".001", ".002", ...
std::string BlockVolumeName(const std::string& zipName, int disk);

// Finishes what runs on the set `zipName` that were stopped (killed, a power
// failure) left: a set whose volumes were all written is put in place, the
// volumes of one that was not are removed. Runs that are still going are
// left alone.
void FinishStoppedRuns(const std::string& zipName);

// Copies `source` onto volumes for the archive `zipName` following the rules
// above. `flush`: each volume reaches the disk before it takes its name.
TVolumeSet WriteVolumes(const TVolumeSource& source, const TMultiZipInfo& info,
                        const std::string& zipName, const TVolumeHooks& hooks, bool flush);

}  // namespace vantrel::zip
