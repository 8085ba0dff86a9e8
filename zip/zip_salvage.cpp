// zip_salvage.cpp - reading what a damaged archive still holds.
//
// When the end record is missing or the central directory cannot be read
// through, the reader scans the whole file once for the signatures of local
// headers and central records and puts together what both say:
//
//   * every central record that parses is remembered by the offset of the
//     local header it names;
//   * the local headers are walked in file order. A header that a central
//     record names takes that record (its attributes, its sizes; of several
//     records, the one that gives the header's name); any other
//     takes what the header itself says, its sizes from the data descriptor
//     when it was written as a stream. The walk goes on after the entry's
//     data when they end where the next record begins (or the file ends),
//     and otherwise at the next signature after the header, so one damaged
//     header or size costs that entry, not the rest of the archive;
//   * an entry whose data run past the end of the file is cut short: it is
//     listed (extracting it says so) and ends the walk.
//
// The result is a reading marked rebuilt: listed, tested and extracted as
// far as it goes, never written back (zip_integrity.h).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "platform/codepages.h"
#include "zip/zip_reader.h"

namespace vantrel::zip {

namespace {

constexpr size_t kScanBlock = 1 << 20;

struct TSignatures {
  std::vector<uint64_t> locals;    // positions of "PK\3\4"
  std::vector<uint64_t> centrals;  // positions of "PK\1\2"
};

// Whether the four bytes at p begin a record that may follow an entry's
// data: a local header, a central record, a ZIP64 or classic end record, a
// ZIP64 locator.
bool IsRecordStart(const uint8_t* p) {
  if (p[0] != 'P' || p[1] != 'K') return false;
  const uint16_t kind = GetU16(p + 2);
  return kind == 0x0403 || kind == 0x0201 || kind == 0x0605 || kind == 0x0606 || kind == 0x0706;
}

// Whether an extra field holds a ZIP64 block (then a descriptor after the
// data has 8-byte sizes).
bool HasZip64Block(const std::string& extra) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    if (GetU16(p) == kZip64ExtraId) return true;
    at += 4 + GetU16(p + 2);
  }
  return false;
}

// A name ending in ".exe", in any case: a self-extracting archive.
bool IsExecutableName(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string leaf = name.substr(slash == std::string::npos ? 0 : slash + 1);
  return leaf.size() > 4 && CompareTextAscii(leaf.substr(leaf.size() - 4), ".exe") == 0;
}

size_t PRead(int fd, uint8_t* buf, size_t n, int64_t at) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, at + static_cast<int64_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

}  // namespace

namespace {

// The stored name and extra field of the record at `at` (a central record
// or a local header); empty when they cannot be read.
std::pair<std::string, std::string> RawNameAndExtra(TS_BufferStream& s, uint64_t at, bool central) {
  const size_t fixed = central ? kCentralHeaderSize : kLocalHeaderSize;
  uint8_t h[kCentralHeaderSize];
  if (s.Seek(static_cast<int64_t>(at), soBeginning) != static_cast<int64_t>(at) ||
      !s.ReadExact(h, fixed))
    return {};
  const size_t nameLen = GetU16(h + (central ? 28 : 26)), extraLen = GetU16(h + (central ? 30 : 28));
  std::string name(nameLen, '\0'), extra(extraLen, '\0');
  if (!s.ReadExact(name.data(), nameLen)) return {};
  if (!s.ReadExact(extra.data(), extraLen)) extra.clear();
  return {std::move(name), std::move(extra)};
}

}  // namespace

bool TZipReader::SalvageDirectory(bool haveEndRecord) {
  if (rebuilt_) return false;
  rebuilt_ = true;
  report_.rebuilt = true;
  report_.announced = haveEndRecord ? static_cast<int64_t>(endRecord_.TotalEntries) : -1;
  FreeDirectory();

  TS_BufferStream& s = *archive_;
  const int64_t size = s.Size();
  // The stub of a self-extracting archive is not searched.
  const int64_t from = std::min<int64_t>(IsExecutableName(zipName_) ? 14000 : 0, size);
  // Local headers after the central directory are not entries of it (a
  // comment may hold anything).
  const bool directoryKnown = haveEndRecord && endRecord_.ThisDisk == 0 &&
                              endRecord_.CentralDirOffset <= static_cast<uint64_t>(size);
  const uint64_t localLimit =
      directoryKnown ? endRecord_.CentralDirOffset : static_cast<uint64_t>(size);

  TSignatures sig;
  {
    std::vector<uint8_t> block(kScanBlock + 3);
    const int fd = archive_->Handle();
    for (int64_t at = from; at < size; at += kScanBlock) {
      const size_t n = PRead(fd, block.data(), std::min<size_t>(block.size(), static_cast<size_t>(size - at)), at);
      if (n < 4) break;
      const uint8_t* p = block.data();
      const size_t last = std::min(n - 3, kScanBlock);  // signature starts in this block
      for (size_t i = 0; i < last;) {
        const void* hit = std::memchr(p + i, 'P', last - i);
        if (!hit) break;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
        if (p[i + 1] == 'K') {
          const uint16_t kind = GetU16(p + i + 2);
          if (kind == 0x0403 && static_cast<uint64_t>(at) + i < localLimit)
            sig.locals.push_back(static_cast<uint64_t>(at) + i);
          else if (kind == 0x0201)
            sig.centrals.push_back(static_cast<uint64_t>(at) + i);
        }
        ++i;
      }
      ProcessMessagesAndCheckCancel();
    }
  }

  // The central records that parse, by the offset of their local header.
  std::vector<TZipHeaderInfo> central;
  std::vector<uint64_t> centralAt;  // where each of them is
  central.reserve(sig.centrals.size());
  std::unordered_multimap<uint64_t, size_t> byOffset;
  uint64_t firstCentral = static_cast<uint64_t>(size);
  for (uint64_t at : sig.centrals) {
    TZipHeaderInfo e;
    TStream* stream = &s;
    if (s.Seek(static_cast<int64_t>(at), soBeginning) != static_cast<int64_t>(at) ||
        !e.ReadCentral(stream) || e.DiskNumberStart != 0)
      continue;
    byOffset.emplace(e.LocalHeaderOffset, central.size());
    central.push_back(std::move(e));
    centralAt.push_back(at);
  }
  std::vector<bool> used(central.size(), false);
  uint64_t dataEnds = 0;  // the furthest end of an entry's data

  NewDirectory(0, dupError);
  // Names are read again once every entry is found, in the archive's code
  // page: the central record's bytes where there is one.
  struct TNameSource {
    TZipHeaderInfo* entry;
    uint64_t at;
    bool central;
  };
  std::vector<TNameSource> nameSources;
  uint64_t resume = static_cast<uint64_t>(from);
  for (uint64_t at : sig.locals) {
    if (at < resume) continue;  // inside the data of an entry already taken
    TZipHeaderInfo* e = store_->New();
    if (s.Seek(static_cast<int64_t>(at), soBeginning) != static_cast<int64_t>(at) ||
        !e->ReadLocal(s, &store_->Names()) || (e->VersionNeeded >> 8) >= 10) {
      store_->DropLast();
      continue;
    }
    // The central record that names this header, unless another took it;
    // of several, one that gives the header's own name (a record overwritten
    // with zeros names offset 0 too).
    const TZipHeaderInfo* record = nullptr;
    size_t chosen = central.size();
    for (auto [it, end] = byOffset.equal_range(at); it != end; ++it) {
      if (used[it->second]) continue;
      if (chosen == central.size() || central[it->second].PathView() == e->PathView()) chosen = it->second;
      if (central[chosen].PathView() == e->PathView()) break;
    }
    if (chosen < central.size()) {
      used[chosen] = true;
      record = &central[chosen];
    }
    uint64_t dataEnd = 0;
    bool cut = false;
    if (record) {
      const uint16_t localExtra = e->LocalExtraLength;
      e->Assign(*record);
      e->LocalHeaderOffset = at;
      e->LocalExtraLength = localExtra;
      dataEnd = at + kLocalHeaderSize + e->StoredNameLength + localExtra + e->CompressedSize;
      cut = dataEnd > static_cast<uint64_t>(size);
      if (!cut && e->HasDataDescriptor()) {
        // Signature, CRC and two sizes of 4 or 8 bytes; the signature may be missing.
        uint8_t d[4];
        const bool signature = s.Seek(static_cast<int64_t>(dataEnd), soBeginning) ==
                                   static_cast<int64_t>(dataEnd) &&
                               s.ReadExact(d, 4) && GetU32(d) == DataDescriptorSig;
        const bool wide = e->CompressedSize >= kZip64Marker32 || e->UncompressedSize >= kZip64Marker32;
        dataEnd += (signature ? 4 : 0) + (wide ? 20 : 12);
        dataEnd = std::min<uint64_t>(dataEnd, static_cast<uint64_t>(size));
      }
    } else {
      s.Seek(static_cast<int64_t>(at + kLocalHeaderSize + e->StoredNameLength), soBeginning);
      // Written as a stream and no descriptor found: where it ends is unknown.
      if (!SkipLocalData(s, *e)) {
        store_->DropLast();
        continue;
      }
      dataEnd = static_cast<uint64_t>(s.Position());
      cut = dataEnd > static_cast<uint64_t>(size);
    }
    dataEnds = std::max(dataEnds, dataEnd);
    if (cut) {
      // Cut short by the end of the file: listed, so that extracting it says
      // what was lost; nothing can follow it.
      nameSources.push_back({e, record ? centralAt[static_cast<size_t>(record - central.data())] : at,
                             record != nullptr});
      dirList_->Add(e);
      break;
    }
    // Where the next record begins, the data ended where their sizes say.
    bool lands = dataEnd == static_cast<uint64_t>(size);
    if (!lands) {
      uint8_t next[4];
      lands = s.Seek(static_cast<int64_t>(dataEnd), soBeginning) == static_cast<int64_t>(dataEnd) &&
              s.ReadExact(next, 4) && IsRecordStart(next);
    }
    resume = lands || record ? dataEnd : at + 4;
    nameSources.push_back({e, record ? centralAt[static_cast<size_t>(record - central.data())] : at,
                           record != nullptr});
    dirList_->Add(e);
  }
  for (size_t i = 0; i < central.size(); ++i)
    if (used[i]) firstCentral = std::min<uint64_t>(firstCentral, sig.centrals[i]);
  TNameDecoder names(codePage_, platform::LocaleNameCodePage());
  for (const TNameSource& n : nameSources) {
    const auto [raw, extra] = RawNameAndExtra(s, n.at, n.central);
    if (raw.empty()) continue;
    names.Decode(*n.entry, raw, reinterpret_cast<const uint8_t*>(extra.data()), extra.size(),
                 &store_->Names());
  }
  names.Finish(&store_->Names());
  codePageUsed_ = names.UsedPage() ? names.PageUsed() : std::string();

  endRecord_.ThisDisk = endRecord_.CentralDirDisk = 0;
  endRecord_.TotalEntries = endRecord_.EntriesThisDisk = static_cast<uint64_t>(dirList_->Count());
  // The directory starts at the first record that was used: no entry's data
  // may reach into it. Without one, nothing limits the entries but each other.
  endRecord_.CentralDirOffset = firstCentral < static_cast<uint64_t>(size) ? firstCentral : std::max(dataEnds, firstCentral);
  currentDisk_ = 0;
  numberOfDisks_ = 1;
  return dirList_->Count() > 0;
}

bool TZipReader::SkipLocalData(TS_BufferStream& s, TZipHeaderInfo& e) {
  std::string extra(e.LocalExtraLength, '\0');
  if (!s.ReadExact(extra.data(), extra.size())) return false;
  const bool zip64 = HasZip64Block(extra);
  const int64_t dataStart = s.Position();
  if (!e.HasDataDescriptor() || e.CompressedSize != 0) {
    s.Seek(static_cast<int64_t>(e.CompressedSize), soCurrent);
    if (!e.HasDataDescriptor()) return true;
    // The sizes were known: the descriptor only repeats them.
    uint8_t sig[4];
    if (s.ReadExact(sig, 4) && GetU32(sig) != DataDescriptorSig) s.Seek(-4, soCurrent);
    s.Seek(zip64 ? 20 : 12, soCurrent);
    return true;
  }
  // Written as a stream: the data ends where a descriptor follows whose
  // compressed size is the distance from the start of the data.
  const size_t sizeWidth = zip64 ? 8 : 4;
  uint8_t d[kZip64DataDescriptorSize];
  int matched = 0;
  long sinceMessages = 0;
  for (;;) {
    uint8_t b;
    if (s.Read(&b, 1) != 1) return false;
    static const uint8_t sig[4] = {0x50, 0x4B, 0x07, 0x08};
    matched = b == sig[matched] ? matched + 1 : (b == sig[0] ? 1 : 0);
    if (++sinceMessages >= 10240) {
      sinceMessages = 0;
      if (DoProcessMessages) ProcessMessagesAndCheckCancel();
    }
    if (matched < 4) continue;
    matched = 0;
    const int64_t at = s.Position() - 4;
    const size_t rest = 4 + 2 * sizeWidth;
    if (!s.ReadExact(d + 4, rest)) return false;
    const uint64_t csize = zip64 ? GetU64(d + 8) : GetU32(d + 8);
    if (csize == static_cast<uint64_t>(at - dataStart)) {
      e.CRC32 = GetU32(d + 4);
      e.CompressedSize = csize;
      e.UncompressedSize = zip64 ? GetU64(d + 16) : GetU32(d + 12);
      return true;
    }
    s.Seek(at + 1, soBeginning);
  }
}

}  // namespace vantrel::zip
